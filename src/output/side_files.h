// The two optional text side files: the source-linkage file of a TK1 file (one line per WAV
// file behind it) and the IPI export file of a batch (one line per peak, up to a line limit).
// Text files are UTF-8 with CR LF line ends. Both replace an existing file of their name only
// when they are closed complete (see output/replacing_file.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "base/host.h"
#include "output/replacing_file.h"

namespace wtk {

// A line of a side file could not be written. what() names the file and the system's text.
class SideFileWriteError : public std::runtime_error {
public:
    SideFileWriteError(const std::string& what, EventKind kind, std::string file, int err)
        : std::runtime_error(what), Kind(kind), File(std::move(file)), Errno(err) {}
    EventKind Kind;  // LinkageFailure or IpiExportFailure
    std::string File;
    int Errno;  // 0 where no system error is behind it
};

class SourceLinkageFile {
public:
    ~SourceLinkageFile();
    bool IndexFileOpen = false;

    // Create "<TK1 name less its last four characters>.txt"; on failure the message
    // "Failed to create source linkage file" (a linkage failure) and the file stays closed.
    void CreateIndexFile(const std::string& tk1Name, Host& host);
    // "<start minute>\t<path>" CR LF. Throws SideFileWriteError when the write fails or the
    // file is not open.
    void WriteLine(int32_t startMinute, const std::string& wavPath);
    // Puts the file in place under its name (ReplacingFile::Commit): 0, kReplacesLater, or the
    // error of that step (or of an earlier buffered write); the file is then removed and what
    // had its name before stays.
    int Close(PendingReplacements* replacements = nullptr);
    // Close in the two steps of ReplacingFile::Finish and Place.
    int Finish();
    int Place(PendingReplacements* replacements = nullptr);
    // Removes the file written so far; what had its name before stays.
    void Discard();
    // Created and neither put in place nor removed yet.
    bool Pending() const { return file_.Pending(); }
    const std::string& FileName() const { return name_; }

private:
    ReplacingFile file_;
    std::string name_;
};

class IpiExportFile {
public:
    ~IpiExportFile();
    bool IPIExportFileOpen = false;
    int32_t IPIFileLineCount = 0;
    int32_t IPIFileLineLimit = 0;

    // Create "<chosen name less its last four characters> IPIs.txt"; on failure a message (an
    // IPI export failure) and the export stays closed (lines are then dropped).
    void CreateIPIexportFile(const std::string& chosenName, int32_t lineLimit, Host& host);
    // One peak: the heading "IPI\tAmp\tt 250ns" with the first peak, then the line
    // "<IPI>\t<Amp>\t<time in 250 ns units>" while below the limit; nothing when the file is not
    // open. Throws SideFileWriteError when the write fails.
    void WritePeak(uint8_t IPI, uint8_t Amp, int32_t TimeTrue2Mhz);
    // Puts the file in place under its name, as SourceLinkageFile::Close does.
    int Close(PendingReplacements* replacements = nullptr);
    // Removes the file written so far; what had its name before stays.
    void Discard();
    // Created and neither put in place nor removed yet.
    bool Pending() const { return file_.Pending(); }
    const std::string& FileName() const { return name_; }

private:
    ReplacingFile file_;
    std::string name_;
    bool headingWritten_ = false;
};

}  // namespace wtk
