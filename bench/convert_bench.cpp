// make bench: whole conversions by wavtokeb-cli (default settings, graphs off) of 576 k
// samples/s recordings of noise at several levels plus 130 kHz click trains, one minute each and
// one of ten minutes. For every recording, in one run: CPU time (user + sys) and wall time per
// minute of audio, peak resident memory, each as a ratio to `cat` of the same file and to the
// same build on one processor, each on one processor (taskset -c 0: the tool then works on one
// thread) and on all of them (two threads where there are two); then the time each stage of the
// conversion takes, measured inside the engine. Then the same minute as a WAV and as a FLAC
// file, each against `cat` of itself, and FLAC against WAV; the same minute as 24-bit, 32-bit
// float and 16-bit stereo WAV files, against the 16-bit mono one. Last, two locations of five
// minutes each, converted as one batch (on one processor and on all) and with --jobs 2, with the
// sensitivity fixed: one batch would carry its gain from the first location into the second,
// which would then do other work than a batch of its own.
//
//   convert_bench [--before CLI] [--repeat N] [--dir DIR]
//
// --before adds the same measurements for another build of the tool (an older commit), taken
// in turns with this one, so that both columns see the same machine load.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "base/host.h"
#include "base/main_controls.h"
#include "base/sample_rate.h"
#include "bench_run.h"
#include "bench_signal.h"
#include "detector/click_detector.h"
#include "engine/filter_kernels.h"
#include "engine/sample_processor.h"
#include "input/recording_layout.h"
#include "input/recording_source.h"
#include "input/wav_file_rec.h"
#include "output/tk1_writer.h"
#include "settings/detector_settings.h"
#include "settings/sensitivity.h"
#include "settings/settings_form.h"
#include "synth/archive_formats.h"

namespace {

namespace fs = std::filesystem;
using wtk::bench::Run;
using wtk::bench::Usage;

// Median of each figure over the runs.
Usage Median(std::vector<Usage> runs) {
    Usage m;
    auto med = [&](double Usage::*f) {
        std::vector<double> v;
        for (const Usage& u : runs) v.push_back(u.*f);
        std::sort(v.begin(), v.end());
        return v.empty() ? 0.0 : v[v.size() / 2];
    };
    m.cpuMs = med(&Usage::cpuMs);
    m.wallMs = med(&Usage::wallMs);
    m.rssMb = med(&Usage::rssMb);
    m.ok = std::all_of(runs.begin(), runs.end(), [](const Usage& u) { return u.ok; });
    return m;
}

std::string FirstLineWith(const std::string& path, const std::string& key) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.starts_with(key)) {
            const size_t colon = line.find(':');
            return colon == std::string::npos ? line : line.substr(colon + 2);
        }
    }
    return "?";
}

// The vector units the processor's flags list, and the filter kernel variant in use.
std::string VectorUnits() {
    const std::string flags = " " + FirstLineWith("/proc/cpuinfo", "flags") + " ";
    std::string units = flags.find(" avx512f ") != std::string::npos ? "AVX2 and AVX-512"
                        : flags.find(" avx2 ") != std::string::npos  ? "AVX2, no AVX-512"
                                                                     : "no AVX2";
    const wtk::FilterKernelKind k = wtk::ActiveFilterKernel();
    units += std::string("; filter kernels: ") + (k == wtk::FilterKernelKind::Avx512 ? "AVX-512"
                                                  : k == wtk::FilterKernelKind::Avx2 ? "AVX2"
                                                                                     : "portable");
    return units;
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

// The stages of one conversion of wav (or of a FLAC stream of flacSamples 16-bit samples of one
// channel) inside this process, as the command-line tool converts it (default settings, graphs
// off): CPU time of the thread that did each stage.
wtk::StageTimes Stages(const std::string& wav, const std::string& tk1, int64_t flacSamples = 0) {
    wtk::NullHost host;
    wtk::SampleRate rate;
    rate.KsamplesPerSecEditChange("576");
    wtk::DetectorSettings settings;
    wtk::Sensitivity sens;
    wtk::SettingsForm form;
    form.DefaultSettingsBtnClick();
    wtk::TK1Writer writer(host);
    wtk::ClickDetector detector(settings, sens, writer, host);
    wtk::MainControls controls;
    controls.ShowGraphs = false;
    wtk::SampleProcessor proc(rate, settings, sens, detector, writer, controls, host);
    wtk::StageTimes t;
    if (wtk::ApplySettings(form, rate, settings, sens)) return t;
    proc.AllocateBuffers(host.HiResSamplesLength());
    writer.AllocateOutBuf();
    writer.TK1StartMin = writer.TK1min = 60487200;
    wtk::TK1HeaderInputs in;
    in.Settings = &settings;
    writer.CreateTK1file(tk1, in);
    std::FILE* f = std::fopen(wav.c_str(), "rb");
    if (f == nullptr) return t;
    proc.Timing = &t;
    if (flacSamples > 0) {
        // The stream's samples, decoded (reading counts the decoding).
        wtk::RecordingLayout layout;
        layout.Read = wtk::RecordingLayout::Reading::Flac;
        layout.Format.Channels = 1;
        layout.Format.Bits = 16;
        layout.Format.Bytes = 2;
        layout.End = flacSamples;
        layout.StreamRate = wtk::bench::kSamplesPerSec;
        const auto source =
            wtk::OpenRecordingSource(fileno(f), static_cast<int64_t>(fs::file_size(wav)), layout);
        proc.ConvertOneWavFile(*source, 0, wtk::WavFileRec{});
    } else {
        proc.ConvertOneWavFile(f, 0, wtk::WavFileRec{});
    }
    std::fclose(f);
    writer.FinaliseTK1File();
    return t;
}

// The 16-bit mono samples of a recording written by WriteRecording (from byte 100) in another
// form whose samples the tool turns back into the very same 16-bit ones. False when a file
// cannot be read or written.
bool WriteForm(const std::string& wav16, const std::string& path,
               const wtk::synth::StoreFormat& form) {
    std::error_code ec;
    const auto size = fs::file_size(wav16, ec);
    if (ec || size < 100) return false;
    std::ifstream in(wav16, std::ios::binary);
    in.seekg(100);
    const auto samples = static_cast<int64_t>((size - 100) / 2);
    try {
        wtk::synth::WriteStoredWav(
            path, wtk::bench::kSamplesPerSec, samples,
            [&](std::span<int16_t> out) {
                in.read(reinterpret_cast<char*>(out.data()),
                        static_cast<std::streamsize>(2 * out.size()));
                return static_cast<size_t>(in.gcount() / 2);  // little-endian, as x86 holds them
            },
            form);
    } catch (const std::exception&) {
        return false;
    }
    return !in.bad();
}

struct Recording {
    const char* label;
    double noise;
    int minutes;
};

// Runs cat of each group of files and the conversions in turns, repeat times; returns the
// medians: one per cat, then one per conversion.
std::vector<Usage> InTurns(const std::vector<std::vector<std::string>>& cats,
                           const std::vector<std::vector<std::string>>& conversions,
                           const fs::path& out, int repeat) {
    std::vector<std::vector<std::string>> catArgs;
    for (const auto& files : cats) {
        catArgs.push_back({"cat"});
        catArgs.back().insert(catArgs.back().end(), files.begin(), files.end());
        Run(catArgs.back());  // into the page cache
    }
    std::vector<std::vector<Usage>> runs(cats.size() + conversions.size());
    for (int k = 0; k < repeat; ++k) {
        for (size_t c = 0; c < catArgs.size(); ++c) runs[c].push_back(Run(catArgs[c]));
        for (size_t b = 0; b < conversions.size(); ++b) {
            fs::remove_all(out);
            fs::create_directories(out);
            runs[cats.size() + b].push_back(Run(conversions[b]));
        }
    }
    std::vector<Usage> medians;
    for (const auto& r : runs) medians.push_back(Median(r));
    return medians;
}

constexpr const char* kOne = "one processor";
constexpr const char* kAll = "all processors";

// The command on processor 0 only (one) or as it is.
std::vector<std::string> OnProcessors(bool one, std::vector<std::string> args) {
    if (one) args.insert(args.begin(), {"taskset", "-c", "0"});
    return args;
}

double Ratio(double a, double b) {
    return a / std::max(b, 0.001);
}

constexpr const char* kTableHead =
    "| Recording | Build | Processors | CPU ms/min | Wall ms/min | x real time (wall) | "
    "Peak RSS MB | CPU / cat | Wall / cat | CPU / one processor | Wall / one processor |\n"
    "|---|---|---|---|---|---|---|---|---|---|---|\n";

// A row of the table: figures per minute of audio, against cat of the same files and against
// the same build on one processor.
bool PrintRow(const std::string& label, const char* build, const char* processors, int minutes,
              const Usage& u, const Usage& cat, const Usage& one) {
    const double perMin = 1.0 / minutes;
    std::printf("| %s | %s | %s | %.0f | %.0f | %.0fx | %.1f | %.1f | %.1f | %.2f | %.2f |\n",
                label.c_str(), build, processors, u.cpuMs * perMin, u.wallMs * perMin,
                60e3 * minutes / u.wallMs, u.rssMb, Ratio(u.cpuMs, cat.cpuMs),
                Ratio(u.wallMs, cat.wallMs), Ratio(u.cpuMs, one.cpuMs),
                Ratio(u.wallMs, one.wallMs));
    return u.ok;
}

void PrintCatRow(const std::string& label, int minutes, const Usage& c) {
    std::printf("| %s | cat | | %.1f | %.1f | | %.1f | 1.0 | 1.0 | | |\n", label.c_str(),
                c.cpuMs / minutes, c.wallMs / minutes, c.rssMb);
    std::fflush(stdout);
}

// A row of the summary: all processors against one.
std::string ThreadRow(const std::string& label, const char* build, int minutes, const Usage& one,
                      const Usage& all) {
    char line[320];
    std::snprintf(line, sizeof line, "| %s | %s | %.0f → %.0f | %.0f → %.0f | %.2f | %.2f |\n",
                  label.c_str(), build, one.wallMs / minutes, all.wallMs / minutes,
                  one.cpuMs / minutes, all.cpuMs / minutes, all.wallMs / one.wallMs,
                  all.cpuMs / one.cpuMs);
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    std::string before;
    int repeat = 3;
    fs::path dir = fs::temp_directory_path() / ("wtk-bench-" + std::to_string(::getpid()));
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        if (opt == "--before") {
            before = argv[i + 1];
        } else if (opt == "--repeat") {
            repeat = std::max(1, std::atoi(argv[i + 1]));
        } else if (opt == "--dir") {
            dir = argv[i + 1];
        } else {
            std::fprintf(stderr, "usage: convert_bench [--before CLI] [--repeat N] [--dir DIR]\n");
            return 2;
        }
    }
    const std::string after = WTK_CLI_PATH;
    fs::create_directories(dir);

    std::printf(
        "Conversion of 576 k samples/s recordings by wavtokeb-cli convert (default "
        "settings, graphs off)\n");
    std::printf("machine: %s, %u processors (%s); load average at start %s\n",
                FirstLineWith("/proc/cpuinfo", "model name").c_str(),
                std::thread::hardware_concurrency(), VectorUnits().c_str(), LoadAverage().c_str());
    std::printf(
        "figures: medians of %d runs taken in turns; CPU = user + sys of the process; "
        "per minute of audio; ratios to cat of the same files and to the same build on one "
        "processor\n\n",
        repeat);
    std::printf("%s", kTableHead);

    std::vector<std::string> builds;
    std::vector<const char*> buildNames;
    if (!before.empty()) {
        builds.push_back(before);
        buildNames.push_back("before");
    }
    builds.push_back(after);
    buildNames.push_back("after");

    const Recording recordings[] = {{"noise 3 + clicks, 1 min", 3, 1},
                                    {"noise 8 + clicks, 1 min", 8, 1},
                                    {"noise 10 + clicks, 1 min", 10, 1},
                                    {"noise 30 + clicks, 1 min", 30, 1},
                                    {"noise 8 + clicks, 10 min", 8, 10}};
    std::string stageRows;
    std::string threadRows;
    bool allOk = true;
    // Stages: medians over the runs, per minute of audio.
    auto stageRow = [&](const char* label, const std::string& file, int minutes,
                        int64_t flacSamples) {
        std::vector<wtk::StageTimes> st;
        for (int k = 0; k < repeat; ++k) {
            st.push_back(Stages(file, (dir / "stages.TK1").string(), flacSamples));
        }
        auto med = [&](int64_t wtk::StageTimes::*f) {
            std::vector<int64_t> v;
            for (const auto& t : st) v.push_back(t.*f);
            std::sort(v.begin(), v.end());
            return static_cast<double>(v[v.size() / 2]) / 1e6 / minutes;
        };
        char line[256];
        std::snprintf(line, sizeof line, "| %s | %.1f | %.1f | %.1f | %.1f |\n", label,
                      med(&wtk::StageTimes::ReadNs), med(&wtk::StageTimes::HighPassNs),
                      med(&wtk::StageTimes::BandPassNs), med(&wtk::StageTimes::PeaksNs));
        stageRows += line;
    };
    for (const Recording& r : recordings) {
        const std::string wav = (dir / "BENCH.20230517140000.wav").string();
        if (!wtk::bench::WriteRecording(wav, r.noise,
                                        int64_t{wtk::bench::kSamplesPerSec} * 60 * r.minutes)) {
            std::fprintf(stderr, "cannot write %s\n", wav.c_str());
            return 1;
        }
        const fs::path out = dir / "out";
        std::vector<std::vector<std::string>> conversions;
        for (const std::string& cli : builds) {
            for (const bool one : {true, false}) {
                conversions.push_back(OnProcessors(
                    one,
                    {cli, "convert", "--rate", "576", "--no-linkage", "--out", out.string(), wav}));
            }
        }
        const std::vector<Usage> m = InTurns({{wav}}, conversions, out, repeat);
        for (size_t b = 0; b < builds.size(); ++b) {
            const Usage& one = m[1 + 2 * b];
            const Usage& all = m[2 + 2 * b];
            allOk = PrintRow(r.label, buildNames[b], kOne, r.minutes, one, m[0], one) && allOk;
            allOk = PrintRow(r.label, buildNames[b], kAll, r.minutes, all, m[0], one) && allOk;
            threadRows += ThreadRow(r.label, buildNames[b], r.minutes, one, all);
        }
        PrintCatRow(r.label, r.minutes, m[0]);
        stageRow(r.label, wav, r.minutes, 0);
    }

    // The same samples as a FLAC file: decoding against reading the WAV file.
    {
        const fs::path flacDir = dir / "flac";
        fs::create_directories(flacDir);
        const std::string wav = (dir / "BENCH.20230517140000.wav").string();
        const std::string flac = (flacDir / "BENCH.20230517140000.flac").string();
        const int64_t samples = int64_t{wtk::bench::kSamplesPerSec} * 60;
        if (!wtk::bench::WriteRecording(wav, 8, samples)) {
            std::fprintf(stderr, "cannot write %s\n", wav.c_str());
            return 1;
        }
        wtk::synth::WavToFlac(wav, flac, false);
        const fs::path out = dir / "out";
        std::vector<std::vector<std::string>> conversions;
        for (const std::string& cli : builds) {
            for (const std::string& input : {wav, flac}) {
                for (const bool one : {true, false}) {
                    conversions.push_back(
                        OnProcessors(one, {cli, "convert", "--rate", "576", "--no-linkage", "--out",
                                           out.string(), input}));
                }
            }
        }
        const std::vector<Usage> m = InTurns({{wav}, {flac}}, conversions, out, repeat);
        std::printf(
            "\nThe same minute (noise 8 + clicks) as WAV and as FLAC (%.1f MB against "
            "%.1f MB); each against cat of itself:\n\n",
            static_cast<double>(fs::file_size(flac)) / 1e6,
            static_cast<double>(fs::file_size(wav)) / 1e6);
        std::printf("%s", kTableHead);
        std::string flacRatios;
        for (size_t b = 0; b < builds.size(); ++b) {
            const Usage* u = &m[2 + 4 * b];  // WAV one, WAV all, FLAC one, FLAC all
            allOk = PrintRow("noise 8 + clicks, WAV", buildNames[b], kOne, 1, u[0], m[0], u[0]) &&
                    allOk;
            allOk = PrintRow("noise 8 + clicks, WAV", buildNames[b], kAll, 1, u[1], m[0], u[0]) &&
                    allOk;
            allOk = PrintRow("noise 8 + clicks, FLAC", buildNames[b], kOne, 1, u[2], m[1], u[2]) &&
                    allOk;
            allOk = PrintRow("noise 8 + clicks, FLAC", buildNames[b], kAll, 1, u[3], m[1], u[2]) &&
                    allOk;
            char line[320];
            std::snprintf(line, sizeof line, "| %s | %.2f | %.2f | %.2f | %.2f |\n", buildNames[b],
                          Ratio(u[2].cpuMs, u[0].cpuMs), Ratio(u[2].wallMs, u[0].wallMs),
                          Ratio(u[3].cpuMs, u[1].cpuMs), Ratio(u[3].wallMs, u[1].wallMs));
            flacRatios += line;
            threadRows += ThreadRow("noise 8 + clicks, FLAC", buildNames[b], 1, u[2], u[3]);
        }
        PrintCatRow("noise 8 + clicks, WAV", 1, m[0]);
        PrintCatRow("noise 8 + clicks, FLAC", 1, m[1]);
        std::printf(
            "\nFLAC against WAV (the same minute):\n\n"
            "| Build | CPU, one processor | Wall, one processor | CPU, all processors | "
            "Wall, all processors |\n|---|---|---|---|---|\n%s",
            flacRatios.c_str());
        stageRow("noise 8 + clicks, FLAC (read: decoding)", flac, 1, samples);
    }

    // The same minute in other WAV forms, each against the 16-bit mono minute: the samples the
    // tool reads are the same, so only taking them from the frames differs.
    {
        const fs::path forms = dir / "forms";
        fs::create_directories(forms);
        const std::string wav = (dir / "BENCH.20230517140000.wav").string();
        using wtk::synth::SampleStore;
        struct Named {
            const char* label;
            wtk::synth::StoreFormat form;
            const char* folder;
        };
        // The recording in channel 1; a second channel holds minus half of it.
        const Named named[] = {{"24-bit", {SampleStore::Pcm24}, "p24"},
                               {"32-bit float", {SampleStore::Float32}, "f32"},
                               {"16-bit stereo, channel 1", {SampleStore::Pcm16, 2, 1}, "st"}};
        std::vector<std::vector<std::string>> cats = {{wav}};
        std::vector<std::string> files;
        for (const Named& f : named) {
            fs::create_directories(forms / f.folder);
            files.push_back((forms / f.folder / "BENCH.20230517140000.wav").string());
            if (!WriteForm(wav, files.back(), f.form)) {
                std::fprintf(stderr, "cannot write %s\n", files.back().c_str());
                return 1;
            }
            cats.push_back({files.back()});
        }
        const fs::path out = dir / "out";
        std::vector<std::vector<std::string>> conversions;
        for (const std::string& cli : builds) {
            for (size_t k = 0; k <= files.size(); ++k) {
                for (const bool one : {true, false}) {
                    std::vector<std::string> args = {
                        cli, "convert", "--rate", "576", "--no-linkage", "--out", out.string()};
                    if (k > 0) args.insert(args.end(), {"--to-16-bit", "--channel", "1"});
                    args.push_back(k == 0 ? wav : files[k - 1]);
                    conversions.push_back(OnProcessors(one, args));
                }
            }
        }
        const std::vector<Usage> m = InTurns(cats, conversions, out, repeat);
        std::printf(
            "\nThe same minute (noise 8 + clicks) in other WAV forms, against the 16-bit mono "
            "minute:\n\n%s",
            kTableHead);
        std::string formRatios;
        const size_t perBuild = 2 * (files.size() + 1);
        for (size_t b = 0; b < builds.size(); ++b) {
            const Usage* u = &m[cats.size() + perBuild * b];
            allOk = PrintRow("noise 8 + clicks, 16-bit mono", buildNames[b], kOne, 1, u[0], m[0],
                             u[0]) &&
                    allOk;
            allOk = PrintRow("noise 8 + clicks, 16-bit mono", buildNames[b], kAll, 1, u[1], m[0],
                             u[0]) &&
                    allOk;
            for (size_t k = 0; k < files.size(); ++k) {
                const Usage& one = u[2 + 2 * k];
                const Usage& all = u[3 + 2 * k];
                const std::string label = std::string("noise 8 + clicks, ") + named[k].label;
                allOk = PrintRow(label, buildNames[b], kOne, 1, one, m[1 + k], one) && allOk;
                allOk = PrintRow(label, buildNames[b], kAll, 1, all, m[1 + k], one) && allOk;
                char line[320];
                std::snprintf(line, sizeof line, "| %s | %s | %.2f | %.2f | %.2f | %.2f |\n",
                              named[k].label, buildNames[b], Ratio(one.cpuMs, u[0].cpuMs),
                              Ratio(one.wallMs, u[0].wallMs), Ratio(all.cpuMs, u[1].cpuMs),
                              Ratio(all.wallMs, u[1].wallMs));
                formRatios += line;
            }
        }
        PrintCatRow("noise 8 + clicks, 16-bit mono", 1, m[0]);
        for (size_t k = 0; k < files.size(); ++k) {
            PrintCatRow(std::string("noise 8 + clicks, ") + named[k].label, 1, m[1 + k]);
        }
        std::printf(
            "\nOther forms against 16-bit mono (the same minute):\n\n"
            "| Form | Build | CPU, one processor | Wall, one processor | CPU, all processors | "
            "Wall, all processors |\n|---|---|---|---|---|---|\n%s",
            formRatios.c_str());
        fs::remove_all(forms);
    }

    // Two locations: one batch converts them one after the other; --jobs 2 side by side.
    {
        const fs::path two = dir / "two";
        fs::create_directories(two);
        std::vector<std::string> files;
        for (const char* location : {"HARBOUR", "REEF"}) {
            files.push_back((two / (std::string(location) + ".20230517140000.wav")).string());
            if (!wtk::bench::WriteRecording(files.back(), 8,
                                            int64_t{wtk::bench::kSamplesPerSec} * 60 * 5)) {
                std::fprintf(stderr, "cannot write %s\n", files.back().c_str());
                return 1;
            }
        }
        const fs::path out = dir / "out";
        // Per build: one batch on one processor, one batch on all, --jobs 2.
        std::vector<std::vector<std::string>> conversions;
        for (const std::string& cli : builds) {
            for (const int run : {0, 1, 2}) {
                std::vector<std::string> args = {
                    cli,     "convert",           "--rate", "576", "--out", out, "--no-linkage",
                    "--set", "GainControlGroup=2"};
                if (run == 2) args.insert(args.end(), {"--jobs", "2"});
                args.push_back(two.string());
                conversions.push_back(OnProcessors(run == 0, args));
            }
        }
        const std::vector<Usage> m = InTurns({files}, conversions, out, repeat);
        const std::string label = "noise 8 + clicks, 2 locations x 5 min, fixed sensitivity";
        std::printf("\nTwo locations:\n\n%s", kTableHead);
        for (size_t b = 0; b < builds.size(); ++b) {
            const Usage* u = &m[1 + 3 * b];
            allOk =
                PrintRow(label + ", one batch", buildNames[b], kOne, 10, u[0], m[0], u[0]) && allOk;
            allOk =
                PrintRow(label + ", one batch", buildNames[b], kAll, 10, u[1], m[0], u[0]) && allOk;
            allOk =
                PrintRow(label + ", --jobs 2", buildNames[b], kAll, 10, u[2], m[0], u[0]) && allOk;
            threadRows += ThreadRow(label + ", one batch", buildNames[b], 10, u[0], u[1]);
        }
        PrintCatRow(label, 10, m[0]);
        std::printf("\n--jobs 2 on the two locations against one batch (throughput, wall):");
        for (size_t b = 0; b < builds.size(); ++b) {
            const Usage* u = &m[1 + 3 * b];
            std::printf(" %s %.2fx (one batch on one processor), %.2fx (on all)%s", buildNames[b],
                        u[0].wallMs / u[2].wallMs, u[1].wallMs / u[2].wallMs,
                        b + 1 < builds.size() ? ";" : "\n");
        }
    }

    std::printf("\nAll processors against one (ms per minute of audio; ratio: all / one):\n\n");
    std::printf(
        "| Recording | Build | Wall one → all | CPU one → all | Wall ratio | CPU ratio |\n");
    std::printf("|---|---|---|---|---|---|\n%s", threadRows.c_str());

    std::printf("\nStages of this build (CPU ms per minute, on %s):\n\n",
                wtk::SampleProcessor::SeveralProcessors() ? "both threads, each stage where it ran"
                                                          : "one thread");
    std::printf("| Recording | read | high-pass | band-pass | peaks + detector |\n");
    std::printf("|---|---|---|---|---|\n%s", stageRows.c_str());

    std::printf("\nload average at the end %s\n", LoadAverage().c_str());
    fs::remove_all(dir);
    if (!allOk) {
        std::fprintf(stderr, "a conversion failed\n");
        return 1;
    }
    return 0;
}
