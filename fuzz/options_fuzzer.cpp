// The command line of wavtokeb-cli on any arguments: the input split at its NUL bytes. Every
// command line is parsed; one whose paths all stay inside a sandbox folder (one short recording,
// a TK1 file of it with its linkage file, and an empty folder) is also run there, as the tool
// runs it. A run that is refused (exit
// status 2) must leave the sandbox exactly as it was: a refusal writes nothing. Conversions at
// the full sample rates are only parsed, to keep the runs short. A run that fails (exit status 1)
// may add files but must leave every file that was there as it was, and no run leaves a
// temporary or lock file. Set WTK_FUZZ_VERBOSE to see the tool's output.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/numbers.h"
#include "cli/command_line.h"
#include "fuzz_support.h"
#include "output/tk1_codec.h"

namespace {

namespace fs = std::filesystem;
using wtk::fuzz::Expect;

using Snapshot = std::map<std::string, std::vector<uint8_t>>;

// One second of a 2 k samples/s 16-bit mono recording with a real header, dated by its name.
void MakeSandbox(const fs::path& sandbox) {
    fs::remove_all(sandbox);
    fs::create_directories(sandbox / "o");
    std::vector<uint8_t> wav = {'R', 'I', 'F',  'F',  0,   0,   0,    0,    'W',  'A', 'V',
                                'E', 'f', 'm',  't',  ' ', 16,  0,    0,    0,    1,   0,
                                1,   0,   0xD0, 0x07, 0,   0,   0xA0, 0x0F, 0,    0,   2,
                                0,   16,  0,    'd',  'a', 't', 'a',  0xA0, 0x0F, 0,   0};
    for (int i = 0; i < 2000; ++i) {
        const int16_t v = static_cast<int16_t>((i % 7) * 900 - 2700);
        wav.push_back(static_cast<uint8_t>(v & 0xFF));
        wav.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
    }
    const uint32_t riff = static_cast<uint32_t>(wav.size() - 8);
    for (int k = 0; k < 4; ++k) wav[4 + k] = static_cast<uint8_t>(riff >> (8 * k));
    wtk::fuzz::WriteBytes(sandbox / "A.20230517140000.wav", wav.data(), wav.size());
    // A finished TK1 file of the recording with one click in its one minute, and its linkage
    // file: for dump.
    namespace tk1 = wtk::tk1;
    constexpr int32_t kStart = 64891560;  // 2023-05-17 14:00
    std::vector<uint8_t> file(tk1::kHeaderBytes, 0);
    tk1::Header header;
    header.StartMin = kStart;
    tk1::PutCreationFields(file, header);
    tk1::PutFinalisationFields(file, kStart + 1, kStart, 1);
    tk1::Click click;
    click.ClkTime5MuSecs = 40000;  // 0.2 s
    click.Ncyc = 8;
    click.IPIpreMax = click.IPIPostMax = 30;
    click.Pmax = 200;
    for (const tk1::Record& r :
         {tk1::LeadRecord(), tk1::EncodeMinute({}), tk1::EncodeClick(click), tk1::EndRecord()}) {
        file.insert(file.end(), r.begin(), r.end());
    }
    wtk::fuzz::WriteBytes(sandbox / "t.TK1", file.data(), file.size());
    const std::string linkage = tk1::EncodeLinkageLine(kStart, "A.20230517140000.wav");
    wtk::fuzz::WriteBytes(sandbox / "t.txt", reinterpret_cast<const uint8_t*>(linkage.data()),
                          linkage.size());
}

Snapshot Take(const fs::path& sandbox) {
    Snapshot s;
    for (const auto& e : fs::recursive_directory_iterator(sandbox)) {
        const std::string name = fs::relative(e.path(), sandbox).string();
        s[name] = e.is_directory() ? std::vector<uint8_t>{'/'} : wtk::fuzz::ReadBytes(e.path());
    }
    return s;
}

// A path the tool may write or read in the sandbox: relative, and never climbing out of it.
bool InSandbox(const std::string& path) {
    if (path.empty() || path[0] == '/') return false;
    for (const auto& part : fs::path(path)) {
        if (part == "..") return false;
    }
    return true;
}

// The paths the command line names, as the sandbox listing gives them.
std::set<std::string> GivenPaths(const wtk::cli::CommandLine& c) {
    std::set<std::string> given;
    auto add = [&](const std::string& p) {
        fs::path n = fs::path(p).lexically_normal();
        if (n.has_parent_path() && !n.has_filename()) n = n.parent_path();  // "x/" is "x"
        given.insert(n.string());
    };
    for (const std::string* p :
         {&c.out, &c.minutes, &c.linkage, &c.recordings, &c.perFile, &c.audacity}) {
        if (!p->empty()) add(*p);
    }
    for (const std::string& p : c.operands) add(p);
    return given;
}

bool RunInSandbox(const wtk::cli::CommandLine& c) {
    for (const std::string* p :
         {&c.out, &c.minutes, &c.linkage, &c.recordings, &c.perFile, &c.audacity}) {
        if (!p->empty() && !InSandbox(*p)) return false;
    }
    for (const std::string& p : c.operands) {
        if (!InSandbox(p)) return false;
    }
    // Full-rate conversions size their buffers for a minute of samples: parsed only.
    const std::optional<int32_t> rate = wtk::ParseInt32(c.rate);
    return !(rate && *rate > 50 && *rate <= 2000 && (c.verb & wtk::cli::kConversions) != 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fs::path sandbox = wtk::fuzz::ScratchFolder("options") / "sandbox";
    static Snapshot initial = [] {
        MakeSandbox(sandbox);
        return Take(sandbox);
    }();
    static const bool verbose = std::getenv("WTK_FUZZ_VERBOSE") != nullptr;
    static const int devNull = ::open("/dev/null", O_WRONLY);
    static const int savedOut = ::dup(1), savedErr = ::dup(2);

    std::vector<std::string> args{"wavtokeb-cli"};
    std::string arg;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(arg);
            arg.clear();
        } else {
            arg += static_cast<char>(data[i]);
        }
    }
    if (!arg.empty() || args.size() == 1) args.push_back(arg);

    wtk::cli::CommandLine c;
    try {
        c = wtk::cli::ParseCommandLine(std::vector<std::string>(args.begin() + 1, args.end()));
    } catch (const wtk::cli::UsageError& e) {
        Expect(!e.text.empty());
    }
    if (!RunInSandbox(c)) return 0;

    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int here = ::open(".", O_RDONLY | O_DIRECTORY);
    Expect(here >= 0 && ::chdir(sandbox.c_str()) == 0);
    std::fflush(stdout);
    std::fflush(stderr);
    if (!verbose) {
        ::dup2(devNull, 1);
        ::dup2(devNull, 2);
    }
    const int status = wtk::cli::Run(static_cast<int>(args.size()), argv.data());
    std::fflush(stdout);
    std::fflush(stderr);
    ::dup2(savedOut, 1);
    ::dup2(savedErr, 2);
    Expect(::fchdir(here) == 0);
    ::close(here);

    Expect(status >= 0 && status <= 2);
    const Snapshot after = Take(sandbox);
    if (status == 2) Expect(after == initial);
    // A run that failed may have added files, but changed or removed none that was there.
    if (status == 1) {
        for (const auto& [name, bytes] : initial) {
            const auto now = after.find(name);
            Expect(now != after.end() && now->second == bytes);
        }
    }
    // No run leaves a temporary or lock file behind; a path the command line names (an output
    // folder called x.wtk-part, say) is the user's own.
    for (const auto& [name, bytes] : after) {
        if (!name.ends_with(".wtk-part") && !name.ends_with(".wtk-lock")) continue;
        Expect(GivenPaths(c).count(fs::path(name).lexically_normal().string()) > 0);
    }
    if (after != initial) MakeSandbox(sandbox);
    return 0;
}
