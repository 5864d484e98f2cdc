// What dump makes of a TK1 file's records besides its own text and CSV: a Raven selection
// table (one, or one per recording), Audacity label files (one per recording) and the minute
// table (the recording effort and the clicks of every minute). Each is fed the records in file
// order by DumpTK1, the clicks with their sources (dump/tk1_dump.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dump/tk1_dump.h"
#include "output/click_sources.h"
#include "output/tk1_codec.h"

namespace wtk::dump {

// One click as the dump delivers it: where its record lies, the minute it belongs to, its
// fields and (with a linkage file or recordings table) its source and recording.
struct ClickAt {
    int64_t Offset = 0;
    int64_t Minute = 0;
    tk1::Click Fields;
    const tk1::ClickSource* Source = nullptr;    // nullptr: no sources at hand
    const SourceRecording* Recording = nullptr;  // nullptr: none known
};

// Takes the records in file order.
class RecordConsumer {
public:
    virtual ~RecordConsumer() = default;
    virtual void Lead(int64_t /*offset*/) {}
    virtual void Minute(int64_t /*offset*/, int64_t /*minute*/, const tk1::Minute&) {}
    virtual void Click(const ClickAt&) {}
    virtual void End(int64_t /*offset*/) {}
    // After the last record: writes what is left; false when a file could not be written
    // (named on the error stream).
    virtual bool Finish() { return true; }
};

// What the exports know of the TK1 file and its recordings.
struct ExportContext {
    std::string Path;  // the TK1 file
    tk1::Header Header;
    // The recordings in linkage order (with a linkage file or recordings table), and their
    // recordings-table rows where the table is at hand (one per recording).
    const std::vector<SourceRecording>* Recordings = nullptr;
    const std::vector<tk1::RecordingRow>* Rows = nullptr;
    const DumpOptions* Options = nullptr;
    std::FILE* Out = nullptr;
    std::FILE* Err = nullptr;
    // Of each recording, whether its file is written (nullptr: every file).
    const std::vector<bool>* Wanted = nullptr;
};

// The heading of a Raven selection table (tab-separated).
extern const char* const kRavenHeading;
// The heading of the minute table (CSV).
extern const char* const kMinutesHeading;

// The files a per-recording export writes, in the order of the recordings (those of the
// recordings wanted); nothing for the exports to stdout.
std::vector<std::string> ExportFiles(const ExportContext& context);

// The export the options ask for; nothing for the text dump and the CSV.
std::unique_ptr<RecordConsumer> MakeExport(const ExportContext& context);

}  // namespace wtk::dump
