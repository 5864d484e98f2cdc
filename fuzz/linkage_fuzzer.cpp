// The source linkage file as dump --csv reads it, with clicks spread over minutes. The input is
// the linkage text, a zero byte, then four bytes per click: the minutes to move on before it
// (0 to 3) and its time in the minute. Every CSV row must have the header's columns, and every
// click given a source must have an offset of at least 0 seconds. A text that begins "path,"
// is the recordings table beside the TK1 file instead (its files placed at their start
// seconds may put a click before a file's first sample); its rows, written again, must read
// back as they were. The Raven table must have a row of the heading's columns per click, the
// minute table a row per minute, and the Audacity label files (written into the scratch
// folder) one file per recording, their lines a click each. Linkage lines, written again, must
// read back as they were, paths byte for byte.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/calendar.h"
#include "dump/tk1_dump.h"
#include "fuzz_support.h"
#include "output/tk1_codec.h"

namespace {

using wtk::fuzz::Expect;

std::vector<uint8_t> Tk1Of(const uint8_t* clicks, size_t size, size_t& clickCount) {
    namespace tk1 = wtk::tk1;
    constexpr uint32_t kStart = 100;
    std::vector<uint8_t> f(tk1::kHeaderBytes, 0);
    tk1::Header header;
    header.StartMin = kStart;
    tk1::PutCreationFields(f, header);
    auto record = [&](const tk1::Record& r) { f.insert(f.end(), r.begin(), r.end()); };
    record(tk1::LeadRecord());
    record(tk1::EncodeMinute({}));  // the first minute
    uint32_t minutes = 1;
    clickCount = 0;
    for (size_t at = 0; at + 4 <= size && clickCount < 2000; at += 4) {
        for (int m = 0; m < (clicks[at] & 3); ++m, ++minutes) record(tk1::EncodeMinute({}));
        tk1::Click c;
        c.ClkTime5MuSecs = static_cast<int32_t>(
            ((uint32_t{clicks[at + 1]} << 16) | (uint32_t{clicks[at + 2]} << 8) | clicks[at + 3]) %
            tk1::kTimeUnitsPerMinute);
        c.Ncyc = 5;
        record(tk1::EncodeClick(c));
        ++clickCount;
    }
    record(tk1::EndRecord());
    // The header's counts as finalisation writes them.
    tk1::PutFinalisationFields(f, static_cast<int32_t>(kStart + minutes), 0,
                               static_cast<int32_t>(minutes));
    return f;
}

// Runs the dump into memory; its output, and its status in status.
std::string Dump(const std::string& path, const wtk::dump::DumpOptions& options, int& status) {
    char* buf = nullptr;
    size_t len = 0;
    std::FILE* mem = open_memstream(&buf, &len);
    Expect(mem != nullptr);
    std::FILE* sink = std::fopen("/dev/null", "wb");
    status = wtk::dump::DumpTK1(path, options, mem, sink);
    std::fclose(sink);
    std::fclose(mem);
    std::string out(buf, len);
    std::free(buf);
    return out;
}

std::vector<std::string> LinesOf(const std::string& out) {
    std::vector<std::string> lines;
    for (size_t pos = 0; pos < out.size();) {
        const size_t end = out.find("\r\n", pos);
        Expect(end != std::string::npos);
        lines.push_back(out.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t split = 0;
    while (split < size && data[split] != 0) ++split;
    const std::filesystem::path folder = wtk::fuzz::ScratchFolder("linkage");
    const bool table =
        std::string_view(reinterpret_cast<const char*>(data), split).starts_with("path,");
    std::filesystem::remove(folder / "in.txt");
    std::filesystem::remove(folder / "in.recordings.csv");
    wtk::fuzz::WriteBytes(folder / (table ? "in.recordings.csv" : "in.txt"), data, split);
    if (!table) {
        // Its lines, written again, read back as they were: minutes and paths, byte for byte.
        const wtk::tk1::LinkageText read =
            wtk::tk1::DecodeLinkage(std::string_view(reinterpret_cast<const char*>(data), split));
        std::string again;
        for (const wtk::tk1::LinkageLine& line : read.Lines) {
            again += wtk::tk1::EncodeLinkageLine(line.Minute, line.Path);
        }
        const wtk::tk1::LinkageText reread = wtk::tk1::DecodeLinkage(again);
        Expect(reread.BadLines.empty() && reread.Lines.size() == read.Lines.size());
        for (size_t i = 0; i < read.Lines.size(); ++i) {
            Expect(reread.Lines[i].Minute == read.Lines[i].Minute &&
                   reread.Lines[i].Path == read.Lines[i].Path);
        }
    }
    if (table) {
        const auto parsed = wtk::tk1::DecodeRecordingsTable(
            std::string_view(reinterpret_cast<const char*>(data), split));
        if (const auto* rows = std::get_if<std::vector<wtk::tk1::RecordingRow>>(&parsed)) {
            std::string again(wtk::tk1::kRecordingsHeading);
            for (const wtk::tk1::RecordingRow& row : *rows) {
                const auto back = wtk::ParseIsoMicroseconds(wtk::IsoMicroseconds(row.PlacedUs));
                Expect(back && back->first == row.PlacedUs);
                again += "\r\n" + wtk::tk1::EncodeRecordingRow(row);
            }
            const auto reread = wtk::tk1::DecodeRecordingsTable(again);
            const auto* same = std::get_if<std::vector<wtk::tk1::RecordingRow>>(&reread);
            Expect(same != nullptr && same->size() == rows->size());
            for (size_t i = 0; i < rows->size(); ++i) {
                const wtk::tk1::RecordingRow &a = (*rows)[i], &b = (*same)[i];
                Expect(a.Path == b.Path && a.StartUs == b.StartUs && a.Zoned == b.Zoned &&
                       a.RateHz == b.RateHz && a.Samples == b.Samples &&
                       a.TimeSource == b.TimeSource &&
                       (!a.StartUs || a.CorrectionUs == b.CorrectionUs) &&
                       b.PlacedUs == a.PlacedUs);
            }
        }
    }
    size_t clicks = 0;
    const std::vector<uint8_t> tk1 =
        split < size ? Tk1Of(data + split + 1, size - split - 1, clicks) : Tk1Of(data, 0, clicks);
    wtk::fuzz::WriteBytes(folder / "in.TK1", tk1.data(), tk1.size());

    const std::string tk1Path = (folder / "in.TK1").string();
    const uint32_t minuteCount =
        wtk::tk1::DecodeHeader(
            std::span<const uint8_t, wtk::tk1::kHeaderBytes>(tk1.data(), wtk::tk1::kHeaderBytes))
            .MinuteCount;
    int status = 0;
    const std::string out = Dump(tk1Path, {.Csv = true}, status);
    Expect(status == 0);
    const std::vector<std::string> rows = LinesOf(out);
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

    const std::vector<std::string> raven = LinesOf(Dump(tk1Path, {.Raven = true}, status));
    Expect(status == 0 && raven.size() == clicks + 1);
    for (const std::string& row : raven) {
        Expect(std::count(row.begin(), row.end(), '\t') == 25);
    }
    const std::vector<std::string> minutes = LinesOf(Dump(tk1Path, {.MinutesCsv = true}, status));
    Expect(status == 0 && minutes.size() == minuteCount + 1);
    const std::filesystem::path labels = folder / "labels";
    const std::vector<std::string> written =
        LinesOf(Dump(tk1Path, {.AudacityDir = labels.string(), .Overwrite = true}, status));
    if (!rows[0].ends_with(",offset_s") && !rows[0].ends_with(",recording_time")) {
        Expect(status == 2 && written.empty());  // no recordings known
    } else {
        // A name the file system cannot take (too long) is reported and left out.
        Expect(status == 0 || status == 1);
        size_t labelled = 0;
        for (const std::string& line : written) {
            const size_t tab = line.rfind('\t');
            Expect(tab != std::string::npos);
            const std::vector<uint8_t> bytes = wtk::fuzz::ReadBytes(line.substr(0, tab));
            labelled += static_cast<size_t>(std::count(bytes.begin(), bytes.end(), '\n'));
            Expect(std::to_string(std::count(bytes.begin(), bytes.end(), '\n')) ==
                   line.substr(tab + 1));
        }
        Expect(labelled <= clicks);
    }
    return 0;
}
