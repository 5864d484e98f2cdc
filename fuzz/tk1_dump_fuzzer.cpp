// The TK1 reader behind `dump` on any bytes, as text, as CSV, as a Raven selection table and as
// the minute table. Every line it writes must end in CR LF; every row of a table must have the
// heading's columns; every output must call the file sound or not alike, and the minute table
// must have a row per minute record; and a file it calls sound must have the shape of a
// finished TK1 file: a header, a lead minute record, whole records and one end record (a record
// whose first byte is the end marker) last.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "dump/tk1_dump.h"
#include "fuzz_support.h"
#include "output/tk1_codec.h"

namespace {

using wtk::fuzz::Expect;

// Runs the dump into memory; returns its status and its output.
int Dump(const std::string& path, const wtk::dump::DumpOptions& options, std::string& out) {
    char* buf = nullptr;
    size_t len = 0;
    std::FILE* mem = open_memstream(&buf, &len);
    Expect(mem != nullptr);
    std::FILE* sink = std::fopen("/dev/null", "wb");
    const int status = wtk::dump::DumpTK1(path, options, mem, sink);
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

    std::string text, csv, raven, minutes;
    const int textStatus = Dump(file.string(), {}, text);
    const int csvStatus = Dump(file.string(), {.Csv = true}, csv);
    const int ravenStatus = Dump(file.string(), {.Raven = true}, raven);
    const int minutesStatus = Dump(file.string(), {.MinutesCsv = true}, minutes);
    Expect(textStatus >= 0 && textStatus <= 2);
    Expect(textStatus == csvStatus && textStatus == ravenStatus && textStatus == minutesStatus);
    // A file refused as no TK1 file gives nothing.
    if (textStatus == 2) Expect(text.empty() && csv.empty() && raven.empty() && minutes.empty());
    const std::vector<std::string> lines = Lines(text);
    // Tables whose rows have the heading's columns; the number of rows.
    auto table = [](const std::string& output, char separator) {
        const std::vector<std::string> rows = Lines(output);
        if (!rows.empty()) {
            const auto columns = std::count(rows[0].begin(), rows[0].end(), separator);
            for (const std::string& row : rows) {
                Expect(std::count(row.begin(), row.end(), separator) == columns);
            }
        }
        return rows.size();
    };
    const size_t clickRows = table(csv, ',');
    Expect(table(raven, '\t') == clickRows);
    const size_t minuteLines =
        static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
            return l.find("\tMINUTE\t") != std::string::npos;
        }));
    Expect(table(minutes, ',') == (minutes.empty() ? 0 : minuteLines + 1));
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
