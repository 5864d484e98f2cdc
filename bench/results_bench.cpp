// make bench: the window's results view on a month of one location, about a million clicks
// (hourly recordings around the clock; porpoise encounters with drifting trains and buzzes,
// echosounder mornings, dolphin groups, snapping shrimp all the time). Writes the TK1 file with
// its recordings table, then, in a fresh process on Qt's offscreen platform: the time from
// opening the file to the first picture of the page, the time each picture of a zoom from the
// whole month down to a few milliseconds and of pans across an hour takes (median, 95th
// percentile, slowest), and the process's peak resident memory.
//
//   results_bench [--dir DIR]     DIR keeps the TK1 file (else a temporary folder)
//   results_bench --open DIR      (the measuring process)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QImage>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/calendar.h"
#include "synth/click_file.h"
#include "ui/results_page.h"
#include "ui/results_plots.h"

namespace {

using namespace wtk;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int64_t kS = 1'000'000;
constexpr int64_t kMin = 60 * kS;
constexpr int64_t kH = 60 * kMin;
constexpr int64_t kDay = 24 * kH;
constexpr int kDays = 30;
constexpr int32_t kRate = 576000;

// A small generator of its own, so that every machine writes the same month.
class Random {
public:
    explicit Random(uint64_t seed) : s_(seed) {}
    uint64_t Next() {
        s_ ^= s_ << 13;
        s_ ^= s_ >> 7;
        s_ ^= s_ << 17;
        return s_;
    }
    double Uniform() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }
    double Between(double a, double b) { return a + (b - a) * Uniform(); }
    int64_t Exponential(double mean) {
        return static_cast<int64_t>(-mean * std::log(1 - Uniform()));
    }

private:
    uint64_t s_;
};

tk1::Click Fields(uint8_t ncyc, uint8_t ipi, uint8_t range, double level) {
    tk1::Click c;
    c.Ncyc = ncyc;
    c.PkAtPosn = static_cast<uint8_t>(std::min<int>(ncyc / 2, 15));
    c.IPIrangeCode = range;
    c.IPIpreMax = c.IPIPostMax = c.IPIPost1 = c.IPIPost2 = ipi;
    c.Pmax = static_cast<uint8_t>(std::clamp(level, 1.0, 255.0));
    c.PkMinus1 = c.PkPlus1 = static_cast<uint8_t>(c.Pmax * 3 / 4);
    c.DurationLow = static_cast<uint8_t>(ncyc * ipi % 256);
    c.DurationHigh = static_cast<uint8_t>(std::min(ncyc * ipi / 256, 15));
    return c;
}

// A train from at: n clicks at an interval drifting from ici (µs), the level swept by the beam,
// ending in a buzz now and then.
void Train(std::vector<synth::ClickAtTime>& out, Random& r, int64_t at, int n, double ici,
           uint8_t ncyc, uint8_t ipi, uint8_t range, double peak, bool buzz) {
    const double drift = r.Between(0.985, 1.012);
    for (int i = 0; i < n; ++i) {
        const double sweep = std::sin(3.14159 * (i + 0.5) / n);
        out.push_back({at, Fields(ncyc, ipi, range, peak * (0.3 + 0.7 * sweep))});
        at += static_cast<int64_t>(ici);
        ici *= drift;
    }
    if (buzz) {
        for (int i = 0; i < 60; ++i, at += 2'500)
            out.push_back({at, Fields(ncyc, ipi, range, peak * 0.5)});
    }
}

// The month: clicks in time order.
std::vector<synth::ClickAtTime> Month(int64_t start) {
    Random r(20240601);
    std::vector<synth::ClickAtTime> clicks;
    for (int day = 0; day < kDays; ++day) {
        const int64_t d = start + day * kDay;
        // Snapping shrimp around the clock, about 8 a minute.
        for (int64_t at = d + r.Exponential(7.5 * kS); at < d + kDay;
             at += r.Exponential(7.5 * kS)) {
            clicks.push_back(
                {at, Fields(static_cast<uint8_t>(r.Between(2, 4)),
                            static_cast<uint8_t>(r.Between(20, 100)),
                            static_cast<uint8_t>(r.Between(8, 13)), r.Between(20, 120))});
        }
        // An echosounder every third morning: 50 kHz pings every 250 ms for two hours.
        if (day % 3 == 0) {
            for (int64_t at = d + 6 * kH; at < d + 8 * kH; at += 250'000) {
                clicks.push_back({at, Fields(20, 80, 0, 150)});
            }
        }
        // Four porpoise encounters a day, trains of 50 to 250 clicks every half minute or so.
        for (int e = 0; e < 4; ++e) {
            int64_t at =
                d + static_cast<int64_t>(r.Between(0, 23.5)) * kH + r.Exponential(20 * kMin);
            const int trains = static_cast<int>(r.Between(10, 40));
            for (int t = 0; t < trains; ++t) {
                Train(clicks, r, at, static_cast<int>(r.Between(50, 250)),
                      r.Between(30'000, 120'000), static_cast<uint8_t>(r.Between(10, 16)),
                      static_cast<uint8_t>(r.Between(29, 33)),
                      static_cast<uint8_t>(r.Between(1, 3)), r.Between(60, 220),
                      r.Uniform() < 0.15);
                at += static_cast<int64_t>(r.Between(15, 60) * kS);
            }
        }
        // A dolphin group every other day.
        if (day % 2 == 1) {
            int64_t at = d + static_cast<int64_t>(r.Between(10, 20)) * kH;
            for (int t = 0; t < 40; ++t, at += static_cast<int64_t>(r.Between(5, 20) * kS)) {
                Train(clicks, r, at, static_cast<int>(r.Between(30, 80)),
                      r.Between(60'000, 150'000), static_cast<uint8_t>(r.Between(3, 5)),
                      static_cast<uint8_t>(r.Between(50, 70)),
                      static_cast<uint8_t>(r.Between(6, 10)), r.Between(40, 160), false);
            }
        }
    }
    std::stable_sort(clicks.begin(), clicks.end(),
                     [](const synth::ClickAtTime& a, const synth::ClickAtTime& b) {
                         return a.TimeUs < b.TimeUs;
                     });
    // Clicks of one recording are at least 5 µs apart, as a detector gives them.
    std::vector<synth::ClickAtTime> kept;
    for (const auto& c : clicks) {
        if (c.TimeUs >= start + kDays * kDay) continue;
        if (kept.empty() || c.TimeUs >= kept.back().TimeUs + 20) kept.push_back(c);
    }
    return kept;
}

std::string WriteMonth(const std::string& dir) {
    const int64_t start = DayNumberFromCivil(2024, 6, 1) * kDay;
    std::vector<synth::ClickFileRecording> recordings;
    for (int h = 0; h < kDays * 24; ++h) {
        const int64_t at = start + h * kH;
        const std::string iso = IsoMicroseconds(at);  // yyyy-mm-ddThh:...
        const std::string name = "MONTH." + iso.substr(0, 4) + iso.substr(5, 2) + iso.substr(8, 2) +
                                 iso.substr(11, 2) + "0000.wav";
        recordings.push_back({"/archive/MONTH/" + name, at, int64_t{kRate} * 3600, kRate});
    }
    const std::string tk1 = (fs::path(dir) / "MONTH 2024 06 01.TK1").string();
    synth::WriteClickFile(tk1, recordings, Month(start));
    return tk1;
}

class NoDialogs : public wtk::ui::Dialogs {
public:
    void ShowMessage(QWidget*, const QString& text) override {
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    }
    bool AskYesNo(QWidget*, const QString&) override { return false; }
    std::optional<int> AskChoice(QWidget*, const QString&, const QStringList&) override {
        return std::nullopt;
    }
    std::optional<QStringList> OpenFiles(QWidget*, const QString&, const QString&) override {
        return std::nullopt;
    }
    std::optional<QString> ChooseDirectory(QWidget*, const QString&) override {
        return std::nullopt;
    }
    std::optional<QString> SaveTK1(QWidget*, const QString&) override { return std::nullopt; }
    void ShowDocument(QWidget*, const QString&, const QString&) override {}
    std::optional<QString> SaveFile(QWidget*, const QString&, const QString&,
                                    const QString&) override {
        return std::nullopt;
    }
};

double Ms(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// Processor time of this process so far, ms: on a busy machine the wall time says little.
double CpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

int OpenAndDraw(const std::string& dir) {
    int argc = 1;
    char name[] = "results_bench";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    NoDialogs dialogs;
    wtk::ui::ResultsPage page([&]() -> wtk::ui::Dialogs& { return dialogs; }, [] { return false; });
    page.resize(1600, 900);
    page.show();
    QImage picture(page.size(), QImage::Format_ARGB32_Premultiplied);

    const auto t0 = Clock::now();
    const double c0 = CpuMs();
    if (page.Open({dir}) != 1) return 1;
    page.render(&picture);
    const double openMs = Ms(t0, Clock::now());
    const double openCpuMs = CpuMs() - c0;
    const wtk::ui::ResultsLocation& l = *page.Current();

    // Zooms from the month down to a few milliseconds about a train in its middle, then pans
    // across an hour, each drawn as the page shows it.
    std::vector<wtk::ui::TimeSpan> spans;
    const wtk::ui::TimeSpan whole = l.Whole();
    const auto& train = l.Trains[l.Trains.size() / 2];
    for (wtk::ui::TimeSpan s = whole; s.Length() > wtk::ui::kShortestSpanUs;) {
        s = wtk::ui::Zoomed(s, 0.5, train.StartUs, whole);
        spans.push_back(s);
    }
    wtk::ui::TimeSpan hour{train.StartUs - kH / 2, train.StartUs + kH / 2};
    for (int i = 0; i < 20; ++i) {
        hour = wtk::ui::Panned(hour, kH / 10, whole);
        spans.push_back(hour);
    }
    std::vector<double> frames, cpu;
    size_t drawn = 0;
    for (const wtk::ui::TimeSpan& s : spans) {
        const auto f0 = Clock::now();
        const double c1 = CpuMs();
        page.ShowSpan(s);
        page.Clicks->render(&picture);
        page.Overview->render(&picture);
        frames.push_back(Ms(f0, Clock::now()));
        cpu.push_back(CpuMs() - c1);
        drawn = std::max(drawn, page.Clicks->DrawnClicks());
    }
    std::sort(frames.begin(), frames.end());
    std::sort(cpu.begin(), cpu.end());
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("results view, a month of one location: %zu clicks, %zu trains, %zu encounters\n",
                l.Clicks.size(), l.Trains.size(), l.Encounters.size());
    std::printf("  opened and drawn in %.2f s, %.2f s of processor time (target: under 2 s)\n",
                openMs / 1000, openCpuMs / 1000);
    std::printf(
        "  %zu zooms (month to %.0f ms) and pans drawn: median %.1f ms, 95 %% %.1f ms, "
        "slowest %.1f ms; processor time median %.1f ms, slowest %.1f ms; at most %zu "
        "points drawn\n",
        frames.size(), spans[spans.size() - 21].Length() / 1000.0, frames[frames.size() / 2],
        frames[frames.size() * 95 / 100], frames.back(), cpu[cpu.size() / 2], cpu.back(), drawn);
    std::printf("  peak memory %.0f MB (target: under 300 MB)\n", usage.ru_maxrss / 1024.0);
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc == 3 && std::string(argv[1]) == "--open") return OpenAndDraw(argv[2]);
    std::string dir;
    bool temporary = true;
    if (argc == 3 && std::string(argv[1]) == "--dir") {
        dir = argv[2];
        temporary = false;
        fs::create_directories(dir);
    } else if (argc != 1) {
        std::fprintf(stderr, "usage: results_bench [--dir DIR]\n");
        return 2;
    } else {
        dir = (fs::temp_directory_path() / ("wtk-results-bench-" + std::to_string(getpid())))
                  .string();
        fs::create_directories(dir);
    }
    const auto t0 = Clock::now();
    const std::string tk1 = WriteMonth(dir);
    std::printf("results view: wrote %s (%.0f MB) in %.1f s\n", tk1.c_str(),
                static_cast<double>(fs::file_size(tk1)) / 1e6, Ms(t0, Clock::now()) / 1000);
    std::fflush(stdout);
    // Measured in a process of its own, so that writing the month weighs nothing in its memory.
    const pid_t child = fork();
    if (child == 0) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        execl("/proc/self/exe", argv[0], "--open", dir.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 1;
    waitpid(child, &status, 0);
    if (temporary) fs::remove_all(dir);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
