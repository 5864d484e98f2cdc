#include "output/recordings_table.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "base/host.h"
#include "base/utf8.h"
#include "output/side_files.h"

namespace wtk {

RecordingsTable::~RecordingsTable() {
    Discard();
}

std::string RecordingsTable::NameFor(const std::string& tk1Name) {
    return std::string(Utf8DropRight(tk1Name, 4)) + ".recordings.csv";
}

void RecordingsTable::Create(const std::string& tk1Name, Host& host) {
    if (TableOpen || file_.IsOpen()) Close();
    name_ = NameFor(tk1Name);
    if (const int err = file_.Open(name_); err != 0) {
        host.Report(Event(EventKind::RecordingsTableFailure, "Failed to create recordings table " +
                                                                 PrintableName(name_) + ": " +
                                                                 ReplacingFileErrorText(err))
                        .About(name_, true)
                        .Because(ReplacingFileErrno(err)));
        TableOpen = false;
        return;
    }
    TableOpen = true;
    Put(std::string(tk1::kRecordingsHeading));
}

void RecordingsTable::Put(const std::string& line) {
    std::FILE* file = file_.Stream();
    if (file == nullptr) {
        throw SideFileWriteError(
            "Failed to write recordings table " + name_ + ": the file is not open",
            EventKind::RecordingsTableFailure, name_, 0);
    }
    const std::string text = line + "\r\n";
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fflush(file) != 0) {
        const int err = errno;
        throw SideFileWriteError("Failed to write recordings table " + name_ + ": " +
                                     (err != 0 ? std::strerror(err) : "write error"),
                                 EventKind::RecordingsTableFailure, name_, err);
    }
}

void RecordingsTable::WriteRow(const tk1::RecordingRow& row) {
    Put(tk1::EncodeRecordingRow(row));
}

int RecordingsTable::Close(PendingReplacements* replacements) {
    TableOpen = false;
    return file_.Commit(replacements);
}

int RecordingsTable::Finish() {
    TableOpen = false;
    return file_.Finish();
}

int RecordingsTable::Place(PendingReplacements* replacements) {
    return file_.Place(replacements);
}

void RecordingsTable::Discard() {
    TableOpen = false;
    file_.Discard();
}

}  // namespace wtk
