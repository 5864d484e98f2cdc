#include "temp_dir.h"

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace wtk::test {

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("wtk-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string ReadFileText(const std::string& path) {
    const auto bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteSamplesFile(const std::string& path, const std::vector<int16_t>& samples,
                      int32_t sampleRate) {
    std::vector<uint8_t> bytes;
    auto put = [&](uint32_t v, int n) {
        for (int i = 0; i < n; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    const auto dataBytes = static_cast<uint32_t>(56 + 2 * samples.size());
    bytes.insert(bytes.end(), {'R', 'I', 'F', 'F'});
    put(36 + dataBytes, 4);
    bytes.insert(bytes.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put(16, 4);
    put(1, 2);  // PCM
    put(1, 2);  // mono
    put(static_cast<uint32_t>(sampleRate), 4);
    put(2 * static_cast<uint32_t>(sampleRate), 4);
    put(2, 2);
    put(16, 2);
    bytes.insert(bytes.end(), {'d', 'a', 't', 'a'});
    put(dataBytes, 4);
    bytes.resize(100, 0);
    for (int16_t s : samples) {
        const auto u = static_cast<uint16_t>(s);
        bytes.push_back(static_cast<uint8_t>(u & 0xFF));
        bytes.push_back(static_cast<uint8_t>(u >> 8));
    }
    WriteFileBytes(path, bytes);
}

FileSizeLimit::FileSizeLimit(uint64_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &before_);
    handlerBefore_ = std::signal(SIGXFSZ, SIG_IGN);  // the failed write is enough
    rlimit limit = before_;
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) throw std::runtime_error("setrlimit failed");
}

FileSizeLimit::~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &before_);
    std::signal(SIGXFSZ, handlerBefore_);
}

SmallFileSystem::SmallFileSystem(const std::string& at, const std::string& options) : at_(at) {
    // Mounts of the namespace stay this process's: nothing outside sees them.
    static const bool ownNamespace =
        ::unshare(CLONE_NEWNS) == 0 &&
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    if (!ownNamespace) {
        why_ = std::string("no mount namespace of its own: ") + std::strerror(errno);
    } else if (::mount("tmpfs", at.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        why_ = "tmpfs " + options + " cannot be mounted: " + std::strerror(errno);
    }
}

SmallFileSystem::~SmallFileSystem() {
    if (Mounted()) ::umount2(at_.c_str(), MNT_DETACH);
}

}  // namespace wtk::test
