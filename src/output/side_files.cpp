#include "output/side_files.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <stdexcept>

#include "base/host.h"
#include "base/utf8.h"
#include "output/tk1_codec.h"

namespace wtk {
namespace {

std::string SystemErrorText(int err) {
    return err != 0 ? std::string(std::strerror(err)) : std::string("write error");
}

[[noreturn]] void ThrowWriteError(const char* what, EventKind kind, const std::string& name,
                                  int err) {
    throw SideFileWriteError(
        std::string("Failed to write ") + what + " " + name + ": " + SystemErrorText(err), kind,
        name, err);
}

}  // namespace

// ---- source linkage file ----

SourceLinkageFile::~SourceLinkageFile() {
    Discard();
}

void SourceLinkageFile::CreateIndexFile(const std::string& tk1Name, Host& host) {
    if (IndexFileOpen || file_.IsOpen()) Close();
    name_ = std::string(Utf8DropRight(tk1Name, 4)) + ".txt";
    // Binary: the CR LF line ends are written here.
    if (const int err = file_.Open(name_); err != 0) {
        host.Report(Event(EventKind::LinkageFailure, "Failed to create source linkage file")
                        .About(name_)
                        .Because(ReplacingFileErrno(err), ReplacingFileErrorText(err)));
        IndexFileOpen = false;
        return;
    }
    IndexFileOpen = true;
}

void SourceLinkageFile::WriteLine(int32_t startMinute, const std::string& wavPath) {
    std::FILE* file = file_.Stream();
    if (file == nullptr) {
        throw SideFileWriteError(
            "Failed to write source linkage file " + name_ + ": the file is not open",
            EventKind::LinkageFailure, name_, 0);
    }
    // The path by its bytes, so that the file can be found again (quoted where it holds a
    // line end).
    const std::string line = tk1::EncodeLinkageLine(startMinute, wavPath);
    errno = 0;
    // One line per WAV file: pushed out at once, so that a failure shows here.
    if (std::fwrite(line.data(), 1, line.size(), file) != line.size() || std::fflush(file) != 0) {
        ThrowWriteError("source linkage file", EventKind::LinkageFailure, name_, errno);
    }
}

int SourceLinkageFile::Close(PendingReplacements* replacements) {
    IndexFileOpen = false;
    return file_.Commit(replacements);
}

int SourceLinkageFile::Finish() {
    IndexFileOpen = false;
    return file_.Finish();
}

int SourceLinkageFile::Place(PendingReplacements* replacements) {
    return file_.Place(replacements);
}

void SourceLinkageFile::Discard() {
    IndexFileOpen = false;
    file_.Discard();
}

// ---- IPI export file ----

IpiExportFile::~IpiExportFile() {
    Discard();
}

void IpiExportFile::CreateIPIexportFile(const std::string& chosenName, int32_t lineLimit,
                                        Host& host) {
    if (IPIExportFileOpen || file_.IsOpen()) Close();
    name_ = std::string(Utf8DropRight(chosenName, 4)) + " IPIs.txt";
    // Binary: the CR LF line ends are written here.
    if (const int err = file_.Open(name_); err != 0) {
        host.Report(Event(EventKind::IpiExportFailure, "Failed to create IPI export file " + name_ +
                                                           ": " + ReplacingFileErrorText(err))
                        .About(name_, true)
                        .Because(ReplacingFileErrno(err)));
        IPIExportFileOpen = false;
    } else {
        IPIExportFileOpen = true;
    }
    headingWritten_ = false;
    IPIFileLineCount = 0;
    IPIFileLineLimit = lineLimit;
}

void IpiExportFile::WritePeak(uint8_t IPI, uint8_t Amp, int32_t TimeTrue2Mhz) {
    if (!IPIExportFileOpen) return;  // creation failed: the batch goes on without export lines
    if (headingWritten_ && IPIFileLineCount >= IPIFileLineLimit) return;
    if (!headingWritten_) {
        static constexpr char kHeading[] = "IPI\tAmp\tt 250ns\r\n";
        constexpr size_t len = sizeof kHeading - 1;
        errno = 0;
        if (std::fwrite(kHeading, 1, len, file_.Stream()) != len) {
            ThrowWriteError("IPI export file", EventKind::IpiExportFailure, name_, errno);
        }
        headingWritten_ = true;
    }
    if (IPIFileLineCount >= IPIFileLineLimit) return;
    // At most 3 + 1 + 3 + 1 + 20 + 2 characters.
    char line[32];
    char* p = std::to_chars(line, line + 3, int{IPI}).ptr;
    *p++ = '\t';
    p = std::to_chars(p, p + 3, int{Amp}).ptr;
    *p++ = '\t';
    p = std::to_chars(p, p + 20, 2 * int64_t{TimeTrue2Mhz}).ptr;  // 500 ns units to 250 ns units
    *p++ = '\r';
    *p++ = '\n';
    const auto len = static_cast<size_t>(p - line);
    errno = 0;
    if (std::fwrite(line, 1, len, file_.Stream()) != len) {
        ThrowWriteError("IPI export file", EventKind::IpiExportFailure, name_, errno);
    }
    ++IPIFileLineCount;
}

int IpiExportFile::Close(PendingReplacements* replacements) {
    IPIExportFileOpen = false;
    return file_.Commit(replacements);
}

void IpiExportFile::Discard() {
    IPIExportFileOpen = false;
    file_.Discard();
}

}  // namespace wtk
