#include "output/replacing_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "base/unfinished_files.h"

namespace wtk {
namespace {

constexpr std::string_view kPartSuffix = ".wtk-part";
constexpr std::string_view kLockSuffix = ".wtk-lock";
constexpr size_t kSuffixBytes = 9;
static_assert(kPartSuffix.size() == kSuffixBytes && kLockSuffix.size() == kSuffixBytes);
constexpr size_t kNameMax = 255;  // bytes of one file name on the usual file systems

// ---- names ----

uint64_t Fnv1a(std::string_view s) {
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

// "DIR/.NAME" for "DIR/NAME": the part both hidden names share.
std::string Stem(const std::string& finalName) {
    const size_t slash = finalName.rfind('/');
    const size_t baseAt = slash == std::string::npos ? 0 : slash + 1;
    const std::string_view base = std::string_view(finalName).substr(baseAt);
    std::string stem = finalName.substr(0, baseAt) + ".";
    if (1 + base.size() + kSuffixBytes <= kNameMax) {
        stem += base;
    } else {
        static constexpr char kHex[] = "0123456789abcdef";
        stem += base.substr(0, 200);
        stem += '~';
        const uint64_t h = Fnv1a(base);
        for (int shift = 60; shift >= 0; shift -= 4) stem += kHex[(h >> shift) & 15];
    }
    return stem;
}

// "DIR/" of "DIR/NAME", "" for a bare name.
std::string FolderPrefixOf(const std::string& name) {
    const size_t slash = name.rfind('/');
    return slash == std::string::npos ? "" : name.substr(0, slash + 1);
}

// The lock file opened for locking: read and write where the permissions allow, else read
// only (which a local lock needs no more than), so another user's lock file can be taken over.
int OpenLockFile(const std::string& lock) {
    constexpr int kFlags = O_CREAT | O_CLOEXEC | O_NOFOLLOW;
    const int fd = ::open(lock.c_str(), O_RDWR | kFlags, 0666);
    if (fd >= 0 || errno != EACCES) return fd;
    return ::open(lock.c_str(), O_RDONLY | kFlags, 0666);
}

// flock, again where a signal interrupted it.
bool Flock(int fd, int operation) {
    int locked = 0;
    while ((locked = ::flock(fd, operation)) != 0 && errno == EINTR) {
    }
    return locked == 0;
}

// The lock file `name` opened and locked with `operation` (of flock), once it is the file that
// has the name: one that lost its name while this run waited (its holder removed it when done)
// is let go, and the name's file tried again, up to `attempts` times. The descriptor, or -1 with
// errno (EWOULDBLOCK after the attempts). handle: the file's registration for an abort, which
// learns each descriptor before it is locked, so that an abort at any moment can let this run's
// hold go and remove the file.
int LockNamedFile(const std::string& name, int operation, int handle, int attempts) {
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const int fd = OpenLockFile(name);
        if (fd < 0) return -1;
        SetSharedLockDescriptor(handle, fd);
        if (!Flock(fd, operation)) {
            const int err = errno;
            SetSharedLockDescriptor(handle, -1);
            ::close(fd);
            errno = err;
            return -1;
        }
        struct stat held {
        }, named{};
        if (::fstat(fd, &held) == 0 && ::stat(name.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            return fd;
        }
        SetSharedLockDescriptor(handle, -1);
        ::close(fd);
    }
    errno = EWOULDBLOCK;
    return -1;
}

// A lock on a folder: shared while a run makes and locks a lock file there, exclusive while the
// clean-up looks for stale files. It is held on the folder itself, which never goes away, so a
// run or a clean-up that waits for it always gets it in the end.
//
// A file system that cannot lock a folder (a network file system may lock only what is open for
// writing) gets the lock on the hidden file ".wtk-folder-lock" in it instead. Whoever releases
// that file's lock last removes the file, so that none is left when no run is at work; a run
// that opened the file just before finds it gone once it holds it, and tries again (until it
// holds the file that has the name: going on without the lock could let a clean-up take a lock
// file that a run has made but not locked yet). Whether the folder can be locked is asked the
// same way by every run, so that all of them lock the same thing. Where no lock can be had at
// all, nothing is held.
class FolderLock {
public:
    // dir: "" or a folder ending in a separator.
    FolderLock(const std::string& dir, int operation) {
        dirFd_ = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd_ >= 0) {
            // Asked without waiting, exclusively: it answers whether the folder can be locked
            // at all (held, or held by another) whatever the others hold.
            if (::flock(dirFd_, LOCK_EX | LOCK_NB) == 0) {
                if (operation == LOCK_SH) Flock(dirFd_, LOCK_SH);
                return;
            }
            if (errno == EWOULDBLOCK || errno == EINTR) {
                if (Flock(dirFd_, operation)) return;
            }
            ::close(dirFd_);
            dirFd_ = -1;
        }
        LockFile(dir + ".wtk-folder-lock", operation);
    }
    ~FolderLock() {
        if (dirFd_ >= 0) ::close(dirFd_);  // which lets the lock go
        if (fd_ < 0) return;
        // Let go, then take it alone if no other run holds it: then it is removed while held.
        // Of runs that let go at once, the last one to try gets it.
        ::flock(fd_, LOCK_UN);
        if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) ::unlink(name_.c_str());
        ForgetSharedLock(handle_);
        ::close(fd_);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    void LockFile(const std::string& name, int operation) {
        name_ = name;
        handle_ = RegisterSharedLock(name_);
        fd_ = LockNamedFile(name_, operation, handle_, INT_MAX);
        if (fd_ < 0) ForgetSharedLock(handle_);
    }

    int dirFd_ = -1;  // the folder, where it can be locked
    std::string name_;
    int handle_ = -1;  // the lock file's, in the registry of files an abort removes
    int fd_ = -1;      // the lock file, where the folder cannot be locked
};

// The descriptor of the locked lock file, or -1 with errno (EWOULDBLOCK: another process holds
// it). The lock file is removed by whoever holds it when done; a run that opened it just before
// that finds another file (or none) under the name after locking, and tries again. Called with
// the folder's lock held (shared by runs, exclusive by the clean-up), so that no lock file is
// ever seen unlocked between its creation and its locking.
int LockName(const std::string& lock, int handle = -1) {
    return LockNamedFile(lock, LOCK_EX | LOCK_NB, handle, 8);
}

void UnlockName(const std::string& lock, int fd) {
    if (fd < 0) return;
    ::unlink(lock.c_str());  // while still held, so nobody else holds this file
    ::close(fd);
}

// The lock of a name this run wrote, and its registration for an abort.
void ReleaseName(const std::string& lock, int fd, int handle) {
    if (fd >= 0) ::unlink(lock.c_str());  // while still held, so nobody else holds this file
    ForgetSharedLock(handle);             // before the descriptor can be given to another file
    if (fd >= 0) ::close(fd);
}

std::atomic<SyncCall> syncCall{&::fsync};

int Sync(int fd) {
    return syncCall.load(std::memory_order_relaxed)(fd);
}

// Makes a rename in the folder of name durable; file systems that cannot do it are left be.
void SyncFolderOf(const std::string& name) {
    const std::string prefix = FolderPrefixOf(name);
    const int fd =
        ::open(prefix.empty() ? "." : prefix.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    Sync(fd);
    ::close(fd);
}

// Puts temp under finalName only where nothing has that name: 0, EEXIST when something has, or
// another error number. A file system that cannot rename without replacing gets a hard link
// and the temporary name's removal; one that can do neither refuses (the error of the link).
int PlaceWithoutReplacing(const std::string& temp, const std::string& finalName) {
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, finalName.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
    if (::link(temp.c_str(), finalName.c_str()) != 0) return errno;
    ::unlink(temp.c_str());
    return 0;
}

}  // namespace

std::string TemporaryNameOf(const std::string& finalName) {
    return Stem(finalName) + std::string(kPartSuffix);
}

std::string LockNameOf(const std::string& finalName) {
    return Stem(finalName) + std::string(kLockSuffix);
}

SyncCall ReplaceSyncCall(SyncCall call) {
    return syncCall.exchange(call);
}

std::string ReplacingFileErrorText(int err) {
    if (err == ReplacingFile::kNameInUse) return "another conversion is writing this file now";
    if (err == ReplacingFile::kNameTaken) {
        return "another conversion wrote this file meanwhile, and its file was kept";
    }
    if (err == ReplacingFile::kWriteFailed) return "a write to it failed before";
    return std::strerror(err > 0 ? err : EIO);
}

int ReplacingFileErrno(int err) {
    if (err == ReplacingFile::kNameInUse) return EWOULDBLOCK;
    if (err == ReplacingFile::kNameTaken) return EEXIST;
    if (err == ReplacingFile::kWriteFailed) return EIO;
    return std::max(err, 0);
}

int ReplacingFile::Open(const std::string& finalName) {
    Discard();
    final_ = finalName;
    temp_ = TemporaryNameOf(finalName);
    lock_ = LockNameOf(finalName);
    // A directory cannot be replaced by a file.
    struct stat st {};
    if (::stat(finalName.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return EISDIR;

    // No clean-up runs in the folder between the lock file's creation and its locking.
    const FolderLock folder(FolderPrefixOf(finalName), LOCK_SH);
    struct stat there {};
    const bool existed = ::lstat(lock_.c_str(), &there) == 0;
    lockHandle_ = RegisterSharedLock(lock_);
    lockFd_ = LockName(lock_, lockHandle_);
    if (lockFd_ < 0) {
        const int err = errno;
        ForgetSharedLock(lockHandle_);
        lockHandle_ = -1;
        if (err == EWOULDBLOCK) return kNameInUse;
        // A file system without file locks still gets its files, without the guard (and
        // without a lock file that would guard nothing).
        if (err != ENOLCK && err != EOPNOTSUPP && err != EINVAL) return err;
        if (!existed) ::unlink(lock_.c_str());
    }
    registered_ = true;
    RegisterUnfinishedFile(temp_);
    ::unlink(temp_.c_str());  // left by a run that was killed
    const int fd = ::open(temp_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    int err = fd < 0 ? errno : 0;
    if (fd >= 0) {
        file_ = ::fdopen(fd, "w+b");
        if (file_ == nullptr) {
            err = errno;
            ::close(fd);
            ::unlink(temp_.c_str());
        }
    }
    if (file_ == nullptr) {
        Release();
        return err != 0 ? err : EIO;
    }
    return 0;
}

int ReplacingFile::Commit(PendingReplacements* replacements) {
    if (const int err = Finish(); err != 0) return err;
    return Place(replacements);
}

int ReplacingFile::Finish() {
    if (file_ == nullptr) return 0;
    errno = 0;
    int err = std::ferror(file_) != 0 ? kWriteFailed : 0;
    if (err == 0 && std::fflush(file_) != 0) err = errno != 0 ? errno : EIO;
    if (err == 0 && Sync(::fileno(file_)) != 0) err = errno;
    if (std::fclose(file_) != 0 && err == 0) err = errno != 0 ? errno : EIO;
    file_ = nullptr;
    if (err != 0) {
        ::unlink(temp_.c_str());
        Release();
        return err;
    }
    finished_ = true;
    return 0;
}

int ReplacingFile::Place(PendingReplacements* replacements) {
    if (!finished_) return 0;
    finished_ = false;
    int err = PlaceWithoutReplacing(temp_, final_);
    if (err == EEXIST && replacements != nullptr) {
        // Complete, and held with its lock and its registration until the batch has ended.
        replacements->Add({final_, temp_, lock_, lockFd_, lockHandle_});
        lockFd_ = lockHandle_ = -1;
        registered_ = false;
        return kReplacesLater;
    }
    if (err == EEXIST) err = kNameTaken;
    if (err != 0) {
        ::unlink(temp_.c_str());
    } else {
        SyncFolderOf(final_);
    }
    Release();
    return err;
}

void ReplacingFile::Discard() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
        ::unlink(temp_.c_str());
    } else if (finished_) {
        ::unlink(temp_.c_str());
    }
    finished_ = false;
    Release();
}

void ReplacingFile::Release() {
    if (registered_) {
        ForgetUnfinishedFile(temp_);
        registered_ = false;
    }
    ReleaseName(lock_, lockFd_, lockHandle_);
    lockFd_ = lockHandle_ = -1;
}

void PendingReplacements::Add(Held held) {
    std::lock_guard lock(mutex_);
    held_.push_back(std::move(held));
}

bool PendingReplacements::Empty() {
    std::lock_guard lock(mutex_);
    return held_.empty();
}

std::vector<std::pair<std::string, int>> PendingReplacements::Replace() {
    std::lock_guard lock(mutex_);
    std::vector<std::pair<std::string, int>> done;
    for (const Held& h : held_) {
        int err = std::rename(h.Temp.c_str(), h.Final.c_str()) == 0 ? 0 : errno;
        if (err != 0) {
            ::unlink(h.Temp.c_str());
        } else {
            SyncFolderOf(h.Final);
        }
        ForgetUnfinishedFile(h.Temp);
        ReleaseName(h.Lock, h.LockFd, h.LockHandle);
        done.emplace_back(h.Final, err);
    }
    held_.clear();
    return done;
}

std::vector<std::string> PendingReplacements::Keep() {
    std::lock_guard lock(mutex_);
    std::vector<std::string> kept;
    for (const Held& h : held_) {
        ::unlink(h.Temp.c_str());
        ForgetUnfinishedFile(h.Temp);
        ReleaseName(h.Lock, h.LockFd, h.LockHandle);
        kept.push_back(h.Final);
    }
    held_.clear();
    return kept;
}

int RemoveStaleTemporaries(const std::string& dir) {
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (d == nullptr) return 0;
    // The stems first: removing entries while reading the folder may skip others.
    std::vector<std::string> stems;
    while (const dirent* e = ::readdir(d)) {
        const std::string_view name = e->d_name;
        if (name.size() <= 1 + kSuffixBytes || name[0] != '.') continue;
        const std::string_view suffix = name.substr(name.size() - kSuffixBytes);
        if (suffix != kPartSuffix && suffix != kLockSuffix) continue;
        stems.push_back(dir + std::string(name.substr(0, name.size() - kSuffixBytes)));
    }
    ::closedir(d);
    std::sort(stems.begin(), stems.end());
    stems.erase(std::unique(stems.begin(), stems.end()), stems.end());
    if (stems.empty()) return 0;
    // Every lock file in the folder is now either held or stale: no run is between making one
    // and locking it.
    const FolderLock folder(dir, LOCK_EX);
    int removed = 0;
    for (const std::string& stem : stems) {
        const std::string lock = stem + std::string(kLockSuffix);
        const int fd = LockName(lock);
        if (fd < 0) continue;  // held: a conversion is writing it now
        removed += ::unlink((stem + std::string(kPartSuffix)).c_str()) == 0;
        UnlockName(lock, fd);
    }
    return removed;
}

long LongestNameIn(const std::string& dir) {
    std::string folder = dir.empty() ? "." : dir;
    for (int up = 0; up < 4096; ++up) {
        errno = 0;
        const long longest = ::pathconf(folder.c_str(), _PC_NAME_MAX);
        if (longest > 0) return longest;
        if (errno != ENOENT || folder == "." || folder == "/") break;
        // A folder not made yet: the one above it.
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        const size_t slash = folder.rfind('/');
        folder = slash == std::string::npos ? "." : folder.substr(0, slash + 1);
    }
    return static_cast<long>(kNameMax);
}

}  // namespace wtk
