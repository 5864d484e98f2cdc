// Output files that take their name whole or not at all. A file is written under a temporary
// name in its destination folder and put under its final name only when it is complete
// (flushed and synced). Until then whatever has the final name is untouched, and a process
// that is killed leaves at most a temporary file, which the next run removes (an abort by a
// second signal removes it at once: it is registered as an unfinished file).
//
// A complete file takes a free name with a rename that never replaces: a file another run put
// under the name meanwhile stays, and this one is given up. A name that is taken is replaced
// only through PendingReplacements, which holds the complete file until the batch that wrote it
// has ended and then puts it in place, or removes it when the batch failed.
//
// Beside the temporary file lies a lock file, held (flock) while the file is written and until
// it is in place: a second conversion that wants to write the same name at the same time finds
// it held and is refused, so that two runs never interleave their work on one name. The
// operating system releases the lock of a killed process, which is how a left-over temporary
// file is known to be stale. The clean-up of stale files and the creation of lock files
// exclude each other through a lock on the folder, so the clean-up never takes hold of a lock
// file that a run has made but not locked yet. Lock and temporary files are made with the
// permissions the outputs get, so that another user's later run in a shared folder can take
// them over.
//
// For the final name "DIR/NAME" the two hidden files are "DIR/.NAME.wtk-part" and
// "DIR/.NAME.wtk-lock" (a name too long for the file system is shortened and given a hash).
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace wtk {

class PendingReplacements;

class ReplacingFile {
public:
    // Open's error when another process is writing the same final name now.
    static constexpr int kNameInUse = -1;
    // Commit's error when the final name is taken and may not be replaced: another run put a
    // file there meanwhile (or an earlier one was there). That file stays; this one is removed.
    static constexpr int kNameTaken = -2;
    // Commit's result when the complete file went to PendingReplacements.
    static constexpr int kReplacesLater = -3;
    // Commit's error when an earlier write to the stream failed (the file is incomplete).
    static constexpr int kWriteFailed = -4;

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
    // Open, or finished and waiting for its name (Finish without Place).
    bool Pending() const { return file_ != nullptr || finished_; }
    const std::string& FinalName() const { return final_; }
    const std::string& TemporaryName() const { return temp_; }

    // Flushes and syncs the file, closes it and puts it under its final name when that is free.
    // A taken name goes to `replacements` when given (kReplacesLater), else the file is removed
    // (kNameTaken). Returns 0, one of those, kWriteFailed, or the error number of the step that
    // failed; on an error the temporary file is removed and the final name left as it was.
    // Nothing open: 0.
    int Commit(PendingReplacements* replacements = nullptr);

    // Commit in two steps, so that the files of one result take their names only once every
    // one of them is whole on the disk. Finish flushes, syncs and closes the file: 0, or the
    // error (kWriteFailed, an error number) after which the temporary file is removed.
    // Place then puts the finished file under its final name as Commit does. Nothing open:
    // 0 from each.
    int Finish();
    int Place(PendingReplacements* replacements = nullptr);

    // Closes and removes the temporary file; the final name is left as it was.
    void Discard();

private:
    void Release();  // the lock, and the names from the files an abort removes

    std::FILE* file_ = nullptr;
    bool finished_ = false;  // closed whole, under its temporary name
    int lockFd_ = -1;
    int lockHandle_ = -1;      // the lock file's registration for an abort
    bool registered_ = false;  // the temporary file's (base/unfinished_files.h)
    std::string final_, temp_, lock_;
};

// Complete files whose names were taken, held (locked, under their temporary names) until the
// batch that wrote them has ended: a batch that succeeded puts them in place, replacing the
// earlier files; a batch that failed removes them and keeps every earlier file as it was.
// Safe to use from several threads.
class PendingReplacements {
public:
    PendingReplacements() = default;
    ~PendingReplacements() { Keep(); }
    PendingReplacements(const PendingReplacements&) = delete;
    PendingReplacements& operator=(const PendingReplacements&) = delete;

    bool Empty();
    // Renames every held file onto its final name. Returns the final names with 0, or the
    // error number of a rename that failed (that temporary file is removed, the earlier file
    // stays).
    std::vector<std::pair<std::string, int>> Replace();
    // Removes every held file; returns the final names whose earlier files were kept.
    std::vector<std::string> Keep();

private:
    friend class ReplacingFile;
    struct Held {
        std::string Final, Temp, Lock;
        int LockFd = -1;
        int LockHandle = -1;
    };
    void Add(Held held);

    std::mutex mutex_;
    std::vector<Held> held_;
};

// The message text of an Open or Commit error, and the system's error number that stands for it
// (EWOULDBLOCK for kNameInUse, EEXIST for kNameTaken, 0 for kReplacesLater).
std::string ReplacingFileErrorText(int err);
int ReplacingFileErrno(int err);

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

// The longest file name the folder's file system takes (the folder, or the nearest one above
// it that exists); 255 where it does not say.
long LongestNameIn(const std::string& dir);

}  // namespace wtk
