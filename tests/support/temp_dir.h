// A fresh directory under the system's temporary directory, removed with its contents at the
// end of the test; plus small file helpers.
#pragma once

#include <sys/resource.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace wtk::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);
std::string ReadFileText(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// A mono 16-bit PCM WAV file of the given rate whose samples start at byte 100: a 44-byte header,
// 56 bytes of zero samples, then the samples as 16-bit little-endian.
void WriteSamplesFile(const std::string& path, const std::vector<int16_t>& samples,
                      int32_t sampleRate = 576000);

// While it lives, no file of this process can grow beyond the given size: the write that would
// make it longer fails with EFBIG, as writes fail on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(uint64_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit before_{};
    void (*handlerBefore_)(int) = nullptr;
};

// A small tmpfs (options as for mount, e.g. "size=8k" or "nr_inodes=4") mounted on an existing
// folder, in a mount namespace of this process's own, while it lives: a disk that fills up.
// Mounting needs root; where it cannot be done, Mounted() is false and Why() says why.
class SmallFileSystem {
public:
    SmallFileSystem(const std::string& at, const std::string& options);
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;
    bool Mounted() const { return why_.empty(); }
    const std::string& Why() const { return why_; }

private:
    std::string at_, why_;
};

}  // namespace wtk::test
