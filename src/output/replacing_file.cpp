#include "output/replacing_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
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

// The descriptor of the locked lock file, or -1 with errno (EWOULDBLOCK: another process holds
// it). The lock file is removed by whoever holds it when done; a run that opened it just before
// that finds another file (or none) under the name after locking, and tries again.
int LockName(const std::string& lock) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0) return -1;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            ::close(fd);
            errno = err;
            return -1;
        }
        struct stat held {
        }, named{};
        if (::fstat(fd, &held) == 0 && ::stat(lock.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            return fd;
        }
        ::close(fd);
    }
    errno = EWOULDBLOCK;
    return -1;
}

void UnlockName(const std::string& lock, int fd) {
    if (fd < 0) return;
    ::unlink(lock.c_str());  // while still held, so nobody else holds this file
    ::close(fd);
}

std::atomic<SyncCall> syncCall{&::fsync};

int Sync(int fd) {
    return syncCall.load(std::memory_order_relaxed)(fd);
}

// Makes a rename in the folder of name durable; file systems that cannot do it are left be.
void SyncFolderOf(const std::string& name) {
    const size_t slash = name.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : name.substr(0, slash + 1);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    Sync(fd);
    ::close(fd);
}

// Renames temp onto finalName. A name that was free when writing began must still be free: a
// file another run put there meanwhile is kept, and the rename fails with EEXIST. File systems
// that cannot rename without replacing get a plain rename.
int RenameIntoPlace(const std::string& temp, const std::string& finalName, bool mustBeFree) {
    if (mustBeFree) {
        if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, finalName.c_str(), RENAME_NOREPLACE) ==
            0) {
            return 0;
        }
        if (errno != EINVAL && errno != ENOSYS) return errno;
    }
    return std::rename(temp.c_str(), finalName.c_str()) == 0 ? 0 : errno;
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
    if (err == EEXIST) return "another conversion wrote this file meanwhile";
    return std::strerror(err != 0 ? err : EIO);
}

int ReplacingFile::Open(const std::string& finalName) {
    Discard();
    final_ = finalName;
    temp_ = TemporaryNameOf(finalName);
    lock_ = LockNameOf(finalName);
    // A directory cannot be replaced by a file.
    struct stat st {};
    if (::stat(finalName.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return EISDIR;
    nameWasFree_ = ::lstat(finalName.c_str(), &st) != 0 && errno == ENOENT;

    // Registered before they exist, so that an abort of this process cannot come between. The
    // lock file is registered even before it is known to be ours; the temporary file only once
    // the lock is held, so that an abort never removes another conversion's work.
    registered_ = true;
    RegisterUnfinishedFile(lock_);
    lockFd_ = LockName(lock_);
    if (lockFd_ < 0) {
        const int err = errno;
        ForgetUnfinishedFile(lock_);
        if (err == EWOULDBLOCK) {
            registered_ = false;
            return kNameInUse;
        }
        // A file system without file locks still gets its files, without the guard.
        if (err != ENOLCK && err != EOPNOTSUPP && err != EINVAL) {
            registered_ = false;
            return err;
        }
    }
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

int ReplacingFile::Commit() {
    if (file_ == nullptr) return 0;
    errno = 0;
    int err = 0;
    if (std::fflush(file_) != 0 || std::ferror(file_) != 0) err = errno != 0 ? errno : EIO;
    if (err == 0 && Sync(::fileno(file_)) != 0) err = errno;
    if (std::fclose(file_) != 0 && err == 0) err = errno != 0 ? errno : EIO;
    file_ = nullptr;
    if (err == 0) err = RenameIntoPlace(temp_, final_, nameWasFree_);
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
    }
    Release();
}

void ReplacingFile::Release() {
    if (registered_) {
        ForgetUnfinishedFile(temp_);
        ForgetUnfinishedFile(lock_);
        registered_ = false;
    }
    UnlockName(lock_, lockFd_);
    lockFd_ = -1;
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

}  // namespace wtk
