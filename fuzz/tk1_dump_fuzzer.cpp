// The TK1 reader behind `dump` on any bytes, as text and as CSV. Every line it writes must end in
// CR LF; every CSV row must have the header's columns; and a file it calls sound must have the
// shape of a finished TK1 file: a header, a lead minute record, whole records and one end record
// (a record whose first byte is 255) last.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/tk1_dump.h"
#include "fuzz_support.h"
#include "output/tk1_codec.h"

namespace {

using wtk::fuzz::Expect;

// Runs the dump into memory; returns its status and its output.
int Dump(const std::string& path, bool csv, std::string& out) {
    char* buf = nullptr;
    size_t len = 0;
    std::FILE* mem = open_memstream(&buf, &len);
    Expect(mem != nullptr);
    std::FILE* sink = std::fopen("/dev/null", "wb");
    const int status = wtk::cli::DumpTK1(path, {.Csv = csv}, mem, sink);
    std::fclose(sink);
    std::fclose(mem);
    out.assign(buf, len);
    std::free(buf);
    return status;
}

// Lines ending in CR LF, with no other CR or LF; returns the lines.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = text.find("\r\n", pos);
        Expect(end != std::string::npos);
        lines.push_back(text.substr(pos, end - pos));
        Expect(lines.back().find_first_of("\r\n") == std::string::npos);
        pos = end + 2;
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::filesystem::path file = wtk::fuzz::ScratchFolder("tk1_dump") / "in.TK1";
    wtk::fuzz::WriteBytes(file, data, size);

    std::string text, csv;
    const int textStatus = Dump(file.string(), false, text);
    const int csvStatus = Dump(file.string(), true, csv);
    Expect(textStatus == csvStatus && textStatus >= 0 && textStatus <= 2);
    // A file refused as no TK1 file gives nothing.
    if (textStatus == 2) Expect(text.empty() && csv.empty());
    Lines(text);
    const std::vector<std::string> rows = Lines(csv);
    if (!rows.empty()) {
        const auto columns = std::count(rows[0].begin(), rows[0].end(), ',');
        for (const std::string& row : rows) {
            Expect(std::count(row.begin(), row.end(), ',') == columns);
        }
    }
    if (textStatus == 0) {
        using namespace wtk::tk1;
        Expect(size >= kHeaderBytes + 2 * kRecordBytes &&
               (size - kHeaderBytes) % kRecordBytes == 0);
        Expect(data[kHeaderBytes] == kMinuteMarker);
        // Records are told apart by their first byte: the end marker ends the file.
        for (size_t at = kHeaderBytes + kRecordBytes; at + kRecordBytes < size;
             at += kRecordBytes) {
            Expect(data[at] != kEndMarker);
        }
        Expect(data[size - kRecordBytes] == kEndMarker);
    }
    return 0;
}
