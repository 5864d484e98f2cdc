// wavtokeb-synth: writes synthetic click-train recordings (the bundled example archive, one
// file, a recorder's file, or the duty-cycled recordings of an acoustic scene) for trying out
// and testing the converter and the click-train analysis.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "synth/scenes.h"
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
    "  wavtokeb-synth recorder DIR --style STYLE --start TIME [--zone +HH:MM] [--zone-unwritten]\n"
    "                             [--prefix TEXT] [the options of one]\n"
    "      Writes one recording into DIR (created if missing) as a recorder writes it, with its\n"
    "      start TIME (UTC, YYYY-MM-DDThh:mm:ss[.ffffff]) in the recorder's form, the recorder's\n"
    "      clock in zone +HH:MM (+00:00) for names and texts:\n"
    "        soundtrap  SERIAL.yymmddHHMMSS.wav and its .log.xml (wav and dwv streams, the\n"
    "                   name at the dwv stream's start, a second after the recording's)\n"
    "        audiomoth  YYYYMMDD_HHMMSS.WAV, an ICMT comment before the data; 384 k unless --rate\n"
    "        sm4        PREFIX_YYYYMMDD_HHMMSS.wav, a wamd chunk after the data\n"
    "        guano      PREFIX.wav (rec1), a guan chunk after the data\n"
    "        bext       PREFIX.wav (bext1), a bext chunk before the data (local time, no zone)\n"
    "      --prefix sets SERIAL (5987) or PREFIX (SM4); --zone-unwritten leaves the zone out of\n"
    "      the sm4 and guano times. The log and comment keep whole seconds, wamd milliseconds.\n"
    "  wavtokeb-synth scenes DIR [--content mixed|sonar|shrimp|dolphins|noise] [--seed N]\n"
    "                            [--style basic|field] [--hours H] [--record S] [--cycle S]\n"
    "                            [--start TIME] [--location NAME] [--rate K] [--jobs N]\n"
    "                            [--truth FILE.csv]\n"
    "      Writes the duty-cycled recordings of an acoustic scene into DIR (created if\n"
    "      missing): S seconds (60) every S seconds (240) for H hours (1) from TIME (UTC,\n"
    "      2024-06-01T00:00:00), named NAME.yyyymmddhhmmss.wav (SCENE). mixed: porpoise\n"
    "      encounters (drifting intervals, beam-swept amplitude, buzzes), dolphin groups,\n"
    "      echosounders at 50, 120, 130 and 200 kHz, snapping shrimp and noise of several\n"
    "      levels; the others hold one kind of sound alone. --truth writes one row per\n"
    "      recorded minute: the porpoise clicks (and those loud enough to hear), buzz,\n"
    "      dolphin, sonar and shrimp clicks, the noise level. --style field draws the scene\n"
    "      from its sources instead: animals and vessels passing at their own range, porpoise\n"
    "      clicks of 120-145 kHz and 50-180 us heard on and off the axis, echoes from the\n"
    "      surface and the bottom, slow, fast and short trains, dolphins with energy up to\n"
    "      130 kHz, sounders at 38-200 kHz and side-looking sonar, engine noise, shrimp beds.\n"
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

// The folder dir (with its parents).
void MakeFolder(const std::filesystem::path& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) throw std::runtime_error("cannot create " + dir.string() + ": " + ec.message());
}

// write(i) for i = 0 ... count - 1, jobs at a time; the error of each ("" where none).
std::vector<std::string> InParallel(size_t count, int32_t jobs,
                                    const std::function<void(size_t)>& write) {
    std::vector<std::string> errors(count);
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i = next++; i < count; i = next++) {
            try {
                write(i);
            } catch (const std::exception& e) {
                errors[i] = e.what();
            }
        }
    };
    std::vector<std::thread> workers;
    for (size_t w = 1; w < std::min(count, static_cast<size_t>(jobs)); ++w)
        workers.emplace_back(work);
    work();
    for (std::thread& w : workers) w.join();
    return errors;
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
    MakeFolder(dir);
    // Files are independent: write several at once, report them in archive order.
    std::vector<synth::WriteResult> results(files.size());
    const std::vector<std::string> errors = InParallel(files.size(), jobs, [&](size_t i) {
        results[i] = synth::WriteWav((dir / files[i].Name).string(), files[i].Spec);
    });

    std::string csv = synth::TruthCsvHeader();
    for (size_t i = 0; i < files.size(); ++i) {
        if (!errors[i].empty()) throw std::runtime_error(errors[i]);
        Report(files[i].Name, files[i].Spec, results[i]);
        csv += synth::TruthCsvRows(results[i].Truth, files[i].Spec.SampleRate, files[i].Name);
    }
    if (!truthPath.empty()) WriteText(truthPath, csv);
    return 0;
}

// What one and recorder share: the recording and its clicks.
struct OneOptions {
    synth::RecordingSpec Spec;
    synth::TrainPlan Plan;
    bool Clicks = true;
    bool RateGiven = false;
    std::string TruthPath;

    OneOptions() { Spec.NoiseRms = 5; }

    // Takes an option of one; false when it is none of them.
    bool Take(const std::string& name, const std::string& value) {
        if (name == "--rate") {
            Spec.SampleRate = RateFromKilo(value);
            RateGiven = true;
        } else if (name == "--seconds") {
            Spec.Seconds = ParseNumber(name, value);
        } else if (name == "--seed") {
            Spec.Seed = ParseWhole<uint64_t>(name, value);
        } else if (name == "--noise") {
            Spec.NoiseRms = ParseNumber(name, value);
        } else if (name == "--flow") {
            Spec.FlowRms = ParseNumber(name, value);
        } else if (name == "--freq") {
            Plan.FrequencyHz = 1000 * ParseNumber(name, value);
        } else if (name == "--max-peak") {
            Plan.MaxPeak = ParseNumber(name, value);
        } else if (name == "--no-clicks") {
            Clicks = false;
        } else if (name == "--truth") {
            TruthPath = value;
        } else {
            return false;
        }
        return true;
    }

    // The recording to write, with its click trains; refuses a bad one before any file is created.
    synth::RecordingSpec Planned() {
        Plan.Seed = Spec.Seed * 7919u;
        Plan.Seconds = Spec.Seconds;
        Plan.MinPeak = std::min(Plan.MinPeak, Plan.MaxPeak);
        try {
            if (Clicks) Spec.Trains = synth::PlanTrains(Plan);
            synth::GroundTruth(Spec);
        } catch (const std::invalid_argument& e) {
            throw UsageError(e.what());
        }
        return Spec;
    }

    void Finish(const std::string& path, const synth::RecordingSpec& spec,
                const synth::WriteResult& r) const {
        const std::string name = std::filesystem::path(path).filename().string();
        Report(name, spec, r);
        if (!TruthPath.empty())
            WriteText(TruthPath,
                      synth::TruthCsvHeader() + synth::TruthCsvRows(r.Truth, spec.SampleRate, name,
                                                                    r.ConverterSkipSamples));
    }
};

int RunOne(int argc, char** argv) {
    const Args a = Split(argc, argv, {"--no-clicks"});
    OneOptions one;
    for (const auto& [name, value] : a.Options) {
        if (!one.Take(name, value)) throw UsageError("unknown option " + name);
    }
    const synth::RecordingSpec spec = one.Planned();
    one.Finish(a.Positional, spec, synth::WriteWav(a.Positional, spec));
    return 0;
}

// YYYY-MM-DDThh:mm:ss[.ffffff] as microseconds since 1899-12-30 00:00.
int64_t ParseStart(const std::string& text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
    const bool fields = std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &year, &month, &day,
                                    &hour, &minute, &second, &used) == 6 &&
                        used == 19;
    int32_t micro = 0;
    bool ok = fields;
    if (ok && text.size() > 19) {
        const std::string fraction = text.substr(20);
        ok = text[19] == '.' && !fraction.empty() && fraction.size() <= 6 &&
             fraction.find_first_not_of("0123456789") == std::string::npos;
        if (ok) micro = ParseWhole<int32_t>("--start", (fraction + "00000").substr(0, 6));
    }
    if (!ok) throw UsageError("--start needs YYYY-MM-DDThh:mm:ss[.ffffff], not \"" + text + "\"");
    try {
        return synth::StartMicroseconds(year, month, day, hour, minute, second, micro);
    } catch (const std::invalid_argument& e) {
        throw UsageError("--start: " + std::string(e.what()) + ": " + text);
    }
}

// +HH:MM or -HH:MM as minutes east of UTC.
int32_t ParseZone(const std::string& text) {
    const bool ok = text.size() == 6 && (text[0] == '+' || text[0] == '-') && text[3] == ':' &&
                    std::isdigit(static_cast<unsigned char>(text[1])) &&
                    std::isdigit(static_cast<unsigned char>(text[2])) &&
                    std::isdigit(static_cast<unsigned char>(text[4])) &&
                    std::isdigit(static_cast<unsigned char>(text[5]));
    const int32_t hours = ok ? (text[1] - '0') * 10 + (text[2] - '0') : 99;
    const int32_t minutes = ok ? (text[4] - '0') * 10 + (text[5] - '0') : 99;
    if (hours > 23 || minutes > 59)
        throw UsageError("--zone needs +HH:MM or -HH:MM, not \"" + text + "\"");
    return (text[0] == '-' ? -1 : 1) * (hours * 60 + minutes);
}

int RunRecorder(int argc, char** argv) {
    const Args a = Split(argc, argv, {"--no-clicks", "--zone-unwritten"});
    OneOptions one;
    synth::RecorderStamp stamp;
    bool styleGiven = false, startGiven = false;
    for (const auto& [name, value] : a.Options) {
        if (one.Take(name, value)) continue;
        if (name == "--style") {
            static const std::pair<const char*, synth::RecorderStyle> kStyles[] = {
                {"soundtrap", synth::RecorderStyle::SoundTrap},
                {"audiomoth", synth::RecorderStyle::AudioMoth},
                {"sm4", synth::RecorderStyle::Sm4},
                {"guano", synth::RecorderStyle::Guano},
                {"bext", synth::RecorderStyle::Bext}};
            styleGiven = false;
            for (const auto& [text, style] : kStyles) {
                if (value == text) {
                    stamp.Style = style;
                    styleGiven = true;
                }
            }
            if (!styleGiven)
                throw UsageError("--style must be soundtrap, audiomoth, sm4, guano or bext");
        } else if (name == "--start") {
            stamp.StartUtcMicroseconds = ParseStart(value);
            startGiven = true;
        } else if (name == "--zone") {
            stamp.ZoneMinutes = ParseZone(value);
        } else if (name == "--zone-unwritten") {
            stamp.ZoneWritten = false;
        } else if (name == "--prefix") {
            stamp.Prefix = value;
        } else {
            throw UsageError("unknown option " + name);
        }
    }
    if (!styleGiven) throw UsageError("recorder needs --style");
    if (!startGiven) throw UsageError("recorder needs --start");
    if (stamp.Style == synth::RecorderStyle::AudioMoth && !one.RateGiven)
        one.Spec.SampleRate = 384000;
    const synth::RecordingSpec spec = one.Planned();
    try {
        synth::StampRecording(stamp, spec);
    } catch (const std::invalid_argument& e) {
        throw UsageError(e.what());
    }
    std::error_code ec;
    std::filesystem::create_directories(a.Positional, ec);
    if (ec) throw std::runtime_error("cannot create " + a.Positional + ": " + ec.message());
    const synth::RecorderWriteResult r = synth::WriteRecorderRecording(a.Positional, spec, stamp);
    one.Finish(r.Path, spec, r);
    if (!r.SidecarPath.empty())
        std::printf("%s\n", std::filesystem::path(r.SidecarPath).filename().string().c_str());
    return 0;
}

}  // namespace

int RunScenes(int argc, char** argv) {
    const Args a = Split(argc, argv, {});
    synth::SceneOptions opt;
    opt.StartUs = synth::StartMicroseconds(2024, 6, 1, 0, 0, 0);
    std::string truthPath;
    int32_t jobs = static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
    for (const auto& [name, value] : a.Options) {
        if (name == "--content") {
            bool known = false;
            for (const synth::SceneContent c :
                 {synth::SceneContent::Mixed, synth::SceneContent::Sonar,
                  synth::SceneContent::Shrimp, synth::SceneContent::Dolphins,
                  synth::SceneContent::Noise}) {
                if (value == synth::SceneContentName(c)) {
                    opt.Content = c;
                    known = true;
                }
            }
            if (!known)
                throw UsageError("--content must be mixed, sonar, shrimp, dolphins or noise");
        } else if (name == "--style") {
            if (value == synth::SceneStyleName(synth::SceneStyle::Basic)) {
                opt.Style = synth::SceneStyle::Basic;
            } else if (value == synth::SceneStyleName(synth::SceneStyle::Field)) {
                opt.Style = synth::SceneStyle::Field;
            } else {
                throw UsageError("--style must be basic or field");
            }
        } else if (name == "--seed") {
            opt.Seed = ParseWhole<uint64_t>(name, value);
        } else if (name == "--hours") {
            opt.Hours = ParseNumber(name, value);
        } else if (name == "--record") {
            opt.RecordSeconds = ParseNumber(name, value);
        } else if (name == "--cycle") {
            opt.CycleSeconds = ParseNumber(name, value);
        } else if (name == "--start") {
            opt.StartUs = ParseStart(value);
        } else if (name == "--location") {
            opt.Location = value;
        } else if (name == "--rate") {
            opt.SampleRate = RateFromKilo(value);
        } else if (name == "--jobs") {
            jobs = ParseWhole<int32_t>(name, value);
        } else if (name == "--truth") {
            truthPath = value;
        } else {
            throw UsageError("unknown option " + name);
        }
    }
    if (jobs < 1 || jobs > 256) throw UsageError("--jobs must be 1 ... 256");
    if (opt.Location.empty() ||
        opt.Location.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                       "0123456789-_") != std::string::npos) {
        throw UsageError("--location takes letters, digits, '-' and '_'");
    }
    synth::Scene scene;
    try {
        scene = synth::PlanScene(opt);
    } catch (const std::invalid_argument& e) {
        throw UsageError(e.what());
    }
    const std::filesystem::path dir(a.Positional);
    MakeFolder(dir);
    const std::vector<std::string> errors =
        InParallel(scene.Recordings.size(), jobs, [&](size_t i) {
            synth::WriteWav((dir / scene.Recordings[i].Name).string(), scene.Recordings[i].Spec);
        });
    for (const std::string& e : errors) {
        if (!e.empty()) throw std::runtime_error(e);
    }
    std::printf("%zu recordings of %s, %zu minutes recorded\n", scene.Recordings.size(),
                synth::SceneContentName(opt.Content), scene.Minutes.size());
    if (!truthPath.empty()) {
        std::string csv = synth::SceneTruthHeading();
        for (const synth::SceneMinute& m : scene.Minutes)
            csv += synth::SceneTruthRow(m, opt.Location, opt.Content);
        WriteText(truthPath, csv);
    }
    return 0;
}

int main(int argc, char** argv) {
    const std::string_view cmd = argc > 1 ? argv[1] : "";
    if (cmd == "--help" || cmd == "-h" || cmd == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    try {
        if (cmd == "example") return RunExample(argc, argv);
        if (cmd == "one") return RunOne(argc, argv);
        if (cmd == "recorder") return RunRecorder(argc, argv);
        if (cmd == "scenes") return RunScenes(argc, argv);
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
