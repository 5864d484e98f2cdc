// What the harnesses share: a folder of their own for the files they write, and the fault
// signal (a trap, which libFuzzer reports with the input that caused it).
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace wtk::fuzz {

// Stops the run on a broken expectation, whatever the build's assertions.
inline void Expect(bool ok) {
    if (!ok) __builtin_trap();
}

// A fresh folder under the system's temporary folder for this process, emptied on each call.
inline std::filesystem::path ScratchFolder(const std::string& harness) {
    static const std::filesystem::path folder =
        std::filesystem::temp_directory_path() /
        ("wtk-fuzz-" + harness + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

inline void WriteBytes(const std::filesystem::path& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

inline std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace wtk::fuzz
