// The source linkage file as dump --csv reads it, with clicks spread over minutes. The input is
// the linkage text, a zero byte, then four bytes per click: the minutes to move on before it
// (0 to 3) and its time in the minute. Every CSV row must have the header's columns, and every
// click given a source must have an offset of at least 0 seconds. A text that begins "path,"
// is the recordings table beside the TK1 file instead (its files placed at their start
// seconds may put a click before a file's first sample), and its times must read back as they
// were written.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/calendar.h"
#include "cli/tk1_dump.h"
#include "fuzz_support.h"
#include "output/tk1_header_offsets.h"

namespace {

using wtk::fuzz::Expect;

std::vector<uint8_t> Tk1Of(const uint8_t* clicks, size_t size, size_t& clickCount) {
    std::vector<uint8_t> f(1024, 0);
    f[wtk::tk1::hdrConst1] = 1;
    f[wtk::tk1::hdrConst245] = 245;
    f[wtk::tk1::hdrConst11] = 11;
    f[wtk::tk1::hdrConst15] = 15;
    f[wtk::tk1::hdrStartMin + 3] = 100;  // start minute 100
    auto record = [&](uint8_t first) {
        std::array<uint8_t, 16> r{};
        r[0] = first;
        f.insert(f.end(), r.begin(), r.end());
    };
    record(254);  // lead
    record(254);  // the first minute
    clickCount = 0;
    for (size_t at = 0; at + 4 <= size && clickCount < 2000; at += 4) {
        for (int m = 0; m < (clicks[at] & 3); ++m) record(254);
        const uint32_t time =
            ((uint32_t{clicks[at + 1]} << 16) | (uint32_t{clicks[at + 2]} << 8) | clicks[at + 3]) %
            12'000'000;
        std::array<uint8_t, 16> r{};
        r[0] = static_cast<uint8_t>(time >> 16);
        r[1] = static_cast<uint8_t>(time >> 8);
        r[2] = static_cast<uint8_t>(time);
        r[3] = 5;
        f.insert(f.end(), r.begin(), r.end());
        ++clickCount;
    }
    record(255);
    // The header's counts as finalisation writes them: minute records after the lead one, and
    // the last logging minute (start plus that count) with its copy.
    const uint32_t minutes =
        static_cast<uint32_t>((f.size() - 1024) / 16) - 2 - static_cast<uint32_t>(clickCount);
    auto put = [&](int32_t at, uint32_t v, int bytes) {
        for (int k = 0; k < bytes; ++k)
            f[at + k] = static_cast<uint8_t>(v >> (8 * (bytes - 1 - k)));
    };
    put(wtk::tk1::hdrMinuteCount, minutes, 3);
    put(wtk::tk1::hdrLastLoggingMin, 100 + minutes, 4);
    put(wtk::tk1::hdrLastLoggingMin2, 100 + minutes, 4);
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t split = 0;
    while (split < size && data[split] != 0) ++split;
    const std::filesystem::path folder = wtk::fuzz::ScratchFolder("linkage");
    const bool table = std::string_view(reinterpret_cast<const char*>(data), split).starts_with("path,");
    std::filesystem::remove(folder / "in.txt");
    std::filesystem::remove(folder / "in.recordings.csv");
    wtk::fuzz::WriteBytes(folder / (table ? "in.recordings.csv" : "in.txt"), data, split);
    if (table) {
        const auto parsed = wtk::cli::ParseRecordingsTable(
            std::string_view(reinterpret_cast<const char*>(data), split));
        if (const auto* rows = std::get_if<std::vector<wtk::cli::RecordingsRow>>(&parsed)) {
            for (const wtk::cli::RecordingsRow& row : *rows) {
                const auto back = wtk::cli::ParseIsoMicroseconds(wtk::IsoMicroseconds(row.PlacedUs));
                Expect(back && back->first == row.PlacedUs);
            }
        }
    }
    size_t clicks = 0;
    const std::vector<uint8_t> tk1 =
        split < size ? Tk1Of(data + split + 1, size - split - 1, clicks) : Tk1Of(data, 0, clicks);
    wtk::fuzz::WriteBytes(folder / "in.TK1", tk1.data(), tk1.size());

    char* buf = nullptr;
    size_t len = 0;
    std::FILE* mem = open_memstream(&buf, &len);
    Expect(mem != nullptr);
    std::FILE* sink = std::fopen("/dev/null", "wb");
    const int status = wtk::cli::DumpTK1((folder / "in.TK1").string(), {.Csv = true}, mem, sink);
    std::fclose(sink);
    std::fclose(mem);
    const std::string out(buf, len);
    std::free(buf);
    Expect(status == 0);

    std::vector<std::string> rows;
    for (size_t pos = 0; pos < out.size();) {
        const size_t end = out.find("\r\n", pos);
        Expect(end != std::string::npos);
        rows.push_back(out.substr(pos, end - pos));
        pos = end + 2;
    }
    Expect(rows.size() == clicks + 1);
    const auto commas = [](const std::string& s) {
        // Commas outside quotes.
        size_t n = 0;
        bool quoted = false;
        for (const char c : s) {
            if (c == '"') quoted = !quoted;
            n += c == ',' && !quoted;
        }
        return n;
    };
    const size_t columns = commas(rows[0]);
    for (const std::string& row : rows) {
        Expect(commas(row) == columns);
        const bool sourced = rows[0].ends_with(",source_wav,offset_s") && !row.ends_with(",,");
        if (sourced && !table && &row != &rows[0]) Expect(row[row.rfind(',') + 1] != '-');
    }
    return 0;
}
