// Output files that replace their predecessor whole or not at all. A file is written under a
// temporary name in its destination folder and renamed onto its final name only when it is
// complete (flushed and synced). Until then whatever had the final name is untouched, and a
// process that is killed leaves at most a temporary file, which the next run removes (an abort
// by a second signal removes it at once: it is registered as an unfinished file).
//
// Beside the temporary file lies a lock file, held (flock) while the file is written: a second
// conversion that wants to write the same name at the same time finds it held and is refused,
// so that two runs never interleave their work on one name. The operating system releases the
// lock of a killed process, which is how a left-over temporary file is known to be stale.
//
// For the final name "DIR/NAME" the two hidden files are "DIR/.NAME.wtk-part" and
// "DIR/.NAME.wtk-lock" (a name too long for the file system is shortened and given a hash).
#pragma once

#include <cstdio>
#include <string>

namespace wtk {

class ReplacingFile {
public:
    // Open's error when another process is writing the same final name now.
    static constexpr int kNameInUse = -1;

    ReplacingFile() = default;
    ~ReplacingFile() { Discard(); }
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Creates the temporary file for finalName, empty, for reading and writing (a file left by
    // an earlier run under that temporary name is removed first). Returns 0, an error number
    // (EISDIR when a directory has the final name), or kNameInUse. A file still open is
    // discarded first.
    int Open(const std::string& finalName);

    std::FILE* Stream() const { return file_; }
    bool IsOpen() const { return file_ != nullptr; }
    const std::string& FinalName() const { return final_; }
    const std::string& TemporaryName() const { return temp_; }

    // Flushes and syncs the file, closes it and renames it onto the final name. A final name that
    // was free at Open is not taken from a file another run put there meanwhile (EEXIST). Returns
    // 0, or the error number of the step that failed (also of an earlier write that failed on the
    // stream); the temporary file is then removed and the final name left as it was. Nothing
    // open: 0.
    int Commit();

    // Closes and removes the temporary file; the final name is left as it was.
    void Discard();

private:
    void Release();  // the lock, and the names from the files an abort removes

    std::FILE* file_ = nullptr;
    int lockFd_ = -1;
    bool registered_ = false;   // as unfinished files (base/unfinished_files.h)
    bool nameWasFree_ = false;  // nothing had the final name at Open
    std::string final_, temp_, lock_;
};

// The message text of an Open or Commit error.
std::string ReplacingFileErrorText(int err);

// The temporary and lock file names that belong to a final name.
std::string TemporaryNameOf(const std::string& finalName);
std::string LockNameOf(const std::string& finalName);

// The call that makes a file's bytes, or the names in a folder, durable (fsync unless replaced).
// Returns the call it replaces; tests put a counting one in place around a commit.
using SyncCall = int (*)(int fd);
SyncCall ReplaceSyncCall(SyncCall call);

// Removes the temporary and lock files in dir ("" or ending in a separator) that no running
// conversion holds: what a killed run left behind. Returns the number of temporary files
// removed.
int RemoveStaleTemporaries(const std::string& dir);

}  // namespace wtk
