// wavtokeb-synth: writes synthetic click-train recordings (the bundled example archive, or one
// file) for trying out and testing the converter.
#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "synth/synth.h"

namespace {

namespace synth = wtk::synth;

constexpr const char* kUsage =
    "Usage:\n"
    "  wavtokeb-synth example DIR [--seconds S] [--rate K] [--harbour N] [--reef N]\n"
    "                             [--jobs N] [--truth FILE.csv]\n"
    "      Writes the example archive into DIR (created if missing): HARBOUR files three\n"
    "      minutes apart and REEF files back to back, each S seconds (90) at K kilo-samples/s\n"
    "      (576); N files per location (HARBOUR 2, REEF 1); --jobs files at a time (one per\n"
    "      processor).\n"
    "  wavtokeb-synth one OUT.wav [--rate K] [--seconds S] [--seed N] [--noise RMS]\n"
    "                             [--flow RMS] [--freq KHZ] [--max-peak COUNTS] [--no-clicks]\n"
    "                             [--truth FILE.csv]\n"
    "      Writes one recording: K kilo-samples/s (576), S seconds (10), seed N (1), white\n"
    "      noise RMS counts (5), low-frequency flow noise RMS counts (0), click trains at\n"
    "      about KHZ kHz (130) with loudest clicks up to COUNTS (4000); --no-clicks gives the\n"
    "      same noise without clicks.\n"
    "  --truth writes every click (file, train, click, centre time and sample, the time and\n"
    "  sample the converter sees after its 100-byte skip, amplitude, frequency, -20 dB\n"
    "  duration) as CSV.\n"
    "Exit status: 0 written, 1 a file could not be written, 2 usage.\n";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

double ParseNumber(std::string_view option, std::string_view text) {
    double v = 0;
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, v);
    if (r.ec != std::errc() || r.ptr != end || !std::isfinite(v))
        throw UsageError(std::string(option) + " needs a number, not \"" + std::string(text) +
                         "\"");
    return v;
}

template <typename Int>
Int ParseWhole(std::string_view option, std::string_view text) {
    Int v = 0;
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, v);
    if (r.ec != std::errc() || r.ptr != end)
        throw UsageError(std::string(option) + " needs a whole number, not \"" + std::string(text) +
                         "\"");
    return v;
}

int32_t RateFromKilo(std::string_view text) {
    const double k = ParseNumber("--rate", text);
    if (!(k >= 1 && k <= 10000)) throw UsageError("--rate must be 1 ... 10000 kilo-samples/s");
    return static_cast<int32_t>(std::lround(k * 1000));
}

// Arguments after the command: one positional, then options.
struct Args {
    std::string Positional;
    std::vector<std::pair<std::string, std::string>> Options;  // name, value ("" for flags)
};

Args Split(int argc, char** argv, const std::vector<std::string_view>& flags) {
    Args a;
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.size() > 2 && arg.substr(0, 2) == "--") {
            bool isFlag = false;
            for (auto f : flags) isFlag = isFlag || f == arg;
            if (isFlag) {
                a.Options.emplace_back(arg, "");
            } else {
                if (i + 1 >= argc) throw UsageError(std::string(arg) + " needs a value");
                a.Options.emplace_back(arg, argv[++i]);
            }
        } else if (a.Positional.empty()) {
            a.Positional = arg;
        } else {
            throw UsageError("unexpected argument \"" + std::string(arg) + "\"");
        }
    }
    if (a.Positional.empty()) throw UsageError("missing output path");
    return a;
}

void WriteText(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    bool ok = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (f) ok = std::fclose(f) == 0 && ok;
    if (!ok) throw std::runtime_error("cannot write " + path);
}

void Report(const std::string& name, const synth::RecordingSpec& spec,
            const synth::WriteResult& r) {
    std::printf("%s\t%lld samples\t%d samples/s\t%zu trains\t%zu clicks", name.c_str(),
                static_cast<long long>(r.Samples), spec.SampleRate, spec.Trains.size(),
                r.Truth.size());
    if (r.ClippedSamples > 0)
        std::printf("\t%lld clipped", static_cast<long long>(r.ClippedSamples));
    std::printf("\n");
    std::fflush(stdout);
}

int RunExample(int argc, char** argv) {
    const Args a = Split(argc, argv, {});
    synth::ExampleOptions opt;
    std::string truthPath;
    int32_t jobs = static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
    for (const auto& [name, value] : a.Options) {
        if (name == "--seconds")
            opt.Seconds = ParseNumber(name, value);
        else if (name == "--rate")
            opt.SampleRate = RateFromKilo(value);
        else if (name == "--harbour")
            opt.HarbourFiles = ParseWhole<int32_t>(name, value);
        else if (name == "--reef")
            opt.ReefFiles = ParseWhole<int32_t>(name, value);
        else if (name == "--jobs")
            jobs = ParseWhole<int32_t>(name, value);
        else if (name == "--truth")
            truthPath = value;
        else
            throw UsageError("unknown option " + name);
    }
    if (jobs < 1 || jobs > 256) throw UsageError("--jobs must be 1 ... 256");
    std::vector<synth::ExampleFile> files;
    try {
        files = synth::ExampleArchive(opt);
    } catch (const std::invalid_argument& e) {
        throw UsageError(e.what());
    }
    const std::filesystem::path dir(a.Positional);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) throw std::runtime_error("cannot create " + dir.string() + ": " + ec.message());

    // Files are independent: write several at once, report them in archive order.
    std::vector<synth::WriteResult> results(files.size());
    std::vector<std::string> errors(files.size());
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i = next++; i < files.size(); i = next++) {
            try {
                results[i] = synth::WriteWav((dir / files[i].Name).string(), files[i].Spec);
            } catch (const std::exception& e) {
                errors[i] = e.what();
            }
        }
    };
    std::vector<std::thread> workers;
    for (size_t w = 1; w < std::min(files.size(), static_cast<size_t>(jobs)); ++w)
        workers.emplace_back(work);
    work();
    for (std::thread& w : workers) w.join();

    std::string csv = synth::TruthCsvHeader();
    for (size_t i = 0; i < files.size(); ++i) {
        if (!errors[i].empty()) throw std::runtime_error(errors[i]);
        Report(files[i].Name, files[i].Spec, results[i]);
        csv += synth::TruthCsvRows(results[i].Truth, files[i].Spec.SampleRate, files[i].Name);
    }
    if (!truthPath.empty()) WriteText(truthPath, csv);
    return 0;
}

int RunOne(int argc, char** argv) {
    const Args a = Split(argc, argv, {"--no-clicks"});
    synth::RecordingSpec spec;
    spec.NoiseRms = 5;
    synth::TrainPlan plan;
    bool clicks = true;
    std::string truthPath;
    for (const auto& [name, value] : a.Options) {
        if (name == "--rate")
            spec.SampleRate = RateFromKilo(value);
        else if (name == "--seconds")
            spec.Seconds = ParseNumber(name, value);
        else if (name == "--seed")
            spec.Seed = ParseWhole<uint64_t>(name, value);
        else if (name == "--noise")
            spec.NoiseRms = ParseNumber(name, value);
        else if (name == "--flow")
            spec.FlowRms = ParseNumber(name, value);
        else if (name == "--freq")
            plan.FrequencyHz = 1000 * ParseNumber(name, value);
        else if (name == "--max-peak")
            plan.MaxPeak = ParseNumber(name, value);
        else if (name == "--no-clicks")
            clicks = false;
        else if (name == "--truth")
            truthPath = value;
        else
            throw UsageError("unknown option " + name);
    }
    plan.Seed = spec.Seed * 7919u;
    plan.Seconds = spec.Seconds;
    plan.MinPeak = std::min(plan.MinPeak, plan.MaxPeak);
    synth::WriteResult r;
    try {
        if (clicks) spec.Trains = synth::PlanTrains(plan);
        synth::GroundTruth(spec);  // refuses a bad spec before the file is created
    } catch (const std::invalid_argument& e) {
        throw UsageError(e.what());
    }
    r = synth::WriteWav(a.Positional, spec);
    const std::string name = std::filesystem::path(a.Positional).filename().string();
    Report(name, spec, r);
    if (!truthPath.empty())
        WriteText(truthPath,
                  synth::TruthCsvHeader() + synth::TruthCsvRows(r.Truth, spec.SampleRate, name));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view cmd = argc > 1 ? argv[1] : "";
    if (cmd == "--help" || cmd == "-h" || cmd == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    try {
        if (cmd == "example") return RunExample(argc, argv);
        if (cmd == "one") return RunOne(argc, argv);
        throw UsageError(cmd.empty() ? "missing command" : "unknown command " + std::string(cmd));
    } catch (const UsageError& e) {
        if (cmd.empty())
            std::fprintf(stderr, "wavtokeb-synth: %s\n%s", e.what(), kUsage);
        else
            std::fprintf(stderr, "wavtokeb-synth: %s (see wavtokeb-synth --help)\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "wavtokeb-synth: %s\n", e.what());
        return 1;
    }
}
