// A fresh directory under the system's temporary directory, removed with its contents at the
// end of the test; plus small file helpers.
#pragma once

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

// A WAV-like file: 100 bytes of header filler, then the samples as 16-bit little-endian.
void WriteSamplesFile(const std::string& path, const std::vector<int16_t>& samples);

}  // namespace wtk::test
