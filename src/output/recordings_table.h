// The recordings table beside a TK1 file, NAME.recordings.csv: one row per recording behind
// the file, with its exact start and where the file placed it, as output/tk1_codec.h encodes
// it (UTF-8). Like the other side files it replaces an existing file of its
// name only when it is closed complete (see output/replacing_file.h).
#pragma once

#include <string>
#include <vector>

#include "output/replacing_file.h"
#include "output/tk1_codec.h"

namespace wtk {

class Host;

class RecordingsTable {
public:
    ~RecordingsTable();
    bool TableOpen = false;

    // "<TK1 name less its last four characters>.recordings.csv".
    static std::string NameFor(const std::string& tk1Name);

    // Creates the table with its heading; on failure the message "Failed to create recordings
    // table ..." (a recordings table failure) and the table stays closed.
    void Create(const std::string& tk1Name, Host& host);
    // One recording's row. Throws SideFileWriteError when the write fails or the table is not
    // open.
    void WriteRow(const tk1::RecordingRow& row);
    // Puts the table in place under its name (ReplacingFile::Commit): 0, kReplacesLater, or the
    // error of that step (or of an earlier buffered write); the table is then removed and what
    // had its name before stays.
    int Close(PendingReplacements* replacements = nullptr);
    // Close in the two steps of ReplacingFile::Finish and Place.
    int Finish();
    int Place(PendingReplacements* replacements = nullptr);
    // Removes the table written so far; what had its name before stays.
    void Discard();
    // Created and neither put in place nor removed yet.
    bool Pending() const { return file_.Pending(); }
    const std::string& FileName() const { return name_; }

private:
    void Put(const std::string& line);

    ReplacingFile file_;
    std::string name_;
};

}  // namespace wtk
