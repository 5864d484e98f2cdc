#include "presence/train_rules.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "base/calendar.h"

namespace wtk::presence {

namespace {

// The median of v (reordered), the mean of the middle two of an even count; 0 for none.
double Median(std::vector<double>& v) {
    if (v.empty()) return 0;
    const size_t mid = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid), v.end());
    const double upper = v[mid];
    if (v.size() % 2 == 1) return upper;
    const double lower = *std::max_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid));
    return (lower + upper) / 2;
}

// The value below which a share p (0..1) of v lies (nearest rank; v reordered).
double Percentile(std::vector<double>& v, double p) {
    if (v.empty()) return 0;
    const auto k = static_cast<size_t>(std::lround(p * static_cast<double>(v.size() - 1)));
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
    return v[k];
}

// The bins of the modal interval: 0.5 ms wide below 20 ms, 5 % wide above.
int32_t IciBin(double ms) {
    if (ms < 20) return static_cast<int32_t>(ms / 0.5);
    return 40 + static_cast<int32_t>(std::log(ms / 20) / std::log(1.05));
}

// The intervals of the clicks in ms, each divided by the intervals it spans.
std::vector<double> Intervals(std::span<const ChainClick> clicks) {
    std::vector<double> ici;
    ici.reserve(clicks.size());
    for (size_t i = 1; i < clicks.size(); ++i) {
        ici.push_back(static_cast<double>(clicks[i].TimeUs - clicks[i - 1].TimeUs) / 1000.0 /
                      std::max<int>(1, clicks[i].Gap));
    }
    return ici;
}

// The most common interval: the median of the intervals in the fullest bin (the shorter bin
// of two equally full ones).
double ModalIci(const std::vector<double>& ici) {
    std::vector<std::pair<int32_t, double>> binned;
    binned.reserve(ici.size());
    for (const double ms : ici) binned.emplace_back(IciBin(ms), ms);
    std::sort(binned.begin(), binned.end());
    size_t best = 0, bestCount = 0;
    for (size_t i = 0; i < binned.size();) {
        size_t j = i;
        while (j < binned.size() && binned[j].first == binned[i].first) ++j;
        if (j - i > bestCount) {
            best = i;
            bestCount = j - i;
        }
        i = j;
    }
    std::vector<double> inBin;
    for (size_t i = best; i < best + bestCount; ++i) inBin.push_back(binned[i].second);
    return Median(inBin);
}

}  // namespace

ChainClick ChainClickOf(const TimedClick& click) {
    ChainClick c;
    c.TimeUs = click.TimeUs;
    c.Khz = static_cast<float>(ClickKhz(click.Fields));
    // The level of every amplitude byte, once.
    static const std::array<float, 256> kLevels = [] {
        std::array<float, 256> levels{};
        for (size_t code = 0; code < levels.size(); ++code) {
            levels[code] = static_cast<float>(
                20 * std::log10(std::max(1, LinearAmplitude(static_cast<uint8_t>(code)))));
        }
        return levels;
    }();
    c.LevelDb = kLevels[click.Fields.Pmax];
    c.Ncyc = click.Fields.Ncyc;
    c.Spread = click.Fields.IPIrangeCode;
    c.Pmax = click.Fields.Pmax;
    const int32_t peak = LinearAmplitude(click.Fields.Pmax);
    c.Ring = peak <= 0 ? 0
                       : static_cast<float>(LinearAmplitude(click.Fields.PkMinus1) +
                                            LinearAmplitude(click.Fields.PkPlus1)) /
                             static_cast<float>(2 * peak);
    return c;
}

double MedianIciMs(std::span<const ChainClick> clicks) {
    std::vector<double> ici = Intervals(clicks);
    return Median(ici);
}

TrainMeasures Measure(std::span<const ChainClick> clicks, const TrainOptions& o) {
    TrainMeasures m;
    // One buffer for every measure in turn, kept for the next chain.
    thread_local std::vector<double> v;
    auto ici = [&](size_t i) {
        return static_cast<double>(clicks[i].TimeUs - clicks[i - 1].TimeUs) /
               std::max<int>(1, clicks[i].Gap);
    };
    v.clear();
    int32_t regular = 0;
    for (size_t i = 2; i < clicks.size(); ++i) {
        const double ratio = ici(i) / ici(i - 1);
        v.push_back(std::fabs(std::log(ratio)));
        if (std::fabs(ratio - 1) * 100 <= o.SonarIciTolerance) ++regular;
    }
    m.RegularShare = v.empty() ? 0 : 100.0 * regular / static_cast<double>(v.size());
    m.IciJitter = Median(v);

    v.clear();
    for (size_t i = 1; i < clicks.size(); ++i) {
        v.push_back(std::fabs(clicks[i].LevelDb - clicks[i - 1].LevelDb));
    }
    m.LevelJitterDb = Median(v);
    v.clear();
    for (const ChainClick& c : clicks) v.push_back(c.LevelDb);
    m.LevelSpreadDb = Percentile(v, 0.9) - Percentile(v, 0.1);

    v.clear();
    for (const ChainClick& c : clicks) {
        if (c.Khz > 0) v.push_back(c.Khz);
    }
    m.KhzMedian = Median(v);
    for (double& k : v) k = std::fabs(k - m.KhzMedian);
    m.KhzSpread = Median(v);

    v.clear();
    for (const ChainClick& c : clicks) v.push_back(c.Ncyc);
    m.MedianCycles = Median(v);
    v.clear();
    for (const ChainClick& c : clicks) v.push_back(c.Spread);
    m.MedianSpread = Median(v);
    v.clear();
    for (const ChainClick& c : clicks) v.push_back(c.Ring);
    m.MedianRing = Median(v);
    v.clear();
    for (const ChainClick& c : clicks) {
        if (c.Chance >= 0) v.push_back(c.Chance);
    }
    m.Chance = Median(v);
    return m;
}

std::optional<Train> DescribeTrain(std::span<const ChainClick> clicks, const TrainOptions& o) {
    const auto n = static_cast<int32_t>(clicks.size());
    if (n < o.MinClicks || n < 3) return std::nullopt;
    const TrainMeasures m = Measure(clicks, o);
    const std::vector<double> ici = Intervals(clicks);
    if (m.IciJitter > o.MaxIciJitter || m.Chance > o.MaxChance) return std::nullopt;

    Train t;
    t.StartUs = clicks.front().TimeUs;
    t.EndUs = clicks.back().TimeUs;
    t.Clicks = n;
    t.IciMinMs = *std::min_element(ici.begin(), ici.end());
    t.IciMaxMs = *std::max_element(ici.begin(), ici.end());
    t.IciModalMs = ModalIci(ici);
    t.KhzMedian = m.KhzMedian;
    t.RingMedian = m.MedianRing;
    std::vector<double> pmax;
    for (const ChainClick& c : clicks) pmax.push_back(c.Pmax);
    t.PmaxMedian = Median(pmax);

    // An echosounder keeps its interval to a clock's accuracy; no animal holds it that steady.
    // (Intervals drawn at random among many clicks may be nearly equal; pings are so by far.)
    const bool regularTrain = n >= o.SonarMinPings && m.RegularShare >= o.SonarMinRegular &&
                              m.IciJitter <= o.SonarMaxIciJitter && m.Chance <= o.SonarMaxChance;
    // Intervals longer than an animal's are a train only as pings.
    if (t.IciModalMs > o.MaxIciMs && !regularTrain) return std::nullopt;
    // A long narrow-band click rings for many cycles of nearly even height; a short broadband
    // one, a dolphin's that carries its energy in the band near its beam's axis, rises and
    // falls within a cycle or two however many cycles the detector counts while it is loud.
    // Noise blurs a faint click's peaks, so a loud train is held to more.
    const double minRing = t.PmaxMedian >= o.NbhfLoudPmax ? o.NbhfLoudMinRing : o.NbhfMinRing;
    // Clipping cuts every peak of a loud click at full scale alike: its ring tells nothing.
    const bool rings = m.MedianRing >= minRing || t.PmaxMedian >= o.ClippedPmax;
    const bool inBand = m.KhzMedian >= o.NbhfMinKhz && m.KhzMedian <= o.NbhfMaxKhz;
    const bool nbhfBand = inBand && rings;
    const bool nbhfClicks = nbhfBand && m.MedianCycles >= o.NbhfMinCycles &&
                            m.MedianCycles <= o.NbhfMaxCycles && m.MedianSpread <= o.NbhfMaxSpread;
    // A porpoise's shortest clicks ring only a few cycles above the detector's count, as a
    // dolphin's broadband ones do; their periods keep to a narrow band, a broadband click's
    // do not.
    const bool fewNarrowClicks = nbhfBand && m.MedianCycles >= o.NbhfFewCycles &&
                                 m.MedianCycles < o.NbhfMinCycles &&
                                 m.MedianSpread <= o.NbhfNarrowSpread;
    if (regularTrain) {
        t.Class = TrainClass::Sonar;
    } else if (nbhfClicks || fewNarrowClicks) {
        t.Class = TrainClass::Nbhf;
    } else if (m.KhzMedian < o.DolphinMaxKhz || m.MedianCycles < o.NbhfMinCycles ||
               (inBand && !rings)) {
        t.Class = TrainClass::Dolphin;
    } else {
        t.Class = TrainClass::Unclassed;
    }

    // Dolphin clicks are broadband: their measured frequency wanders, so only the intervals
    // tell how train-like they are.
    const bool consistent = m.KhzSpread <= o.MaxKhzSpread || t.Class == TrainClass::Dolphin;
    const bool steady = consistent && m.LevelJitterDb <= o.MaxLevelJitterDb;
    if (steady && n >= o.HighMinClicks && m.IciJitter <= o.HighMaxIciJitter &&
        m.Chance <= o.HighMaxChance) {
        t.Quality = TrainQuality::High;
    } else if (steady && n >= o.ModerateMinClicks && m.IciJitter <= o.ModerateMaxIciJitter &&
               m.Chance <= o.ModerateMaxChance) {
        t.Quality = TrainQuality::Moderate;
    } else {
        t.Quality = TrainQuality::Low;
    }
    // A short train of long clicks that ring evenly, at intervals, frequency and level no
    // chance would give, is an NBHF animal's even with too few clicks to count as moderate.
    // Not when clipped: clipping makes any click seem to ring.
    if (t.Class == TrainClass::Nbhf && nbhfClicks && n < o.ModerateMinClicks && steady &&
        m.MedianRing >= o.ShortMinRing && t.PmaxMedian < o.ClippedPmax &&
        m.IciJitter <= o.ModerateMaxIciJitter && m.Chance <= o.ModerateMaxChance) {
        t.Quality = TrainQuality::Moderate;
    }
    // So few cycles are weaker evidence of the band than many: such a train is of moderate
    // quality at most, and of low quality unless it holds as many clicks as a high one (a few
    // clicks of filtered noise may keep to a band as well).
    if (t.Class == TrainClass::Nbhf && !nbhfClicks) {
        t.Quality =
            n >= o.HighMinClicks ? std::min(t.Quality, TrainQuality::Moderate) : TrainQuality::Low;
    }

    for (size_t i = 0; i < clicks.size(); ++i) {
        const int64_t minute = FloorDivide(clicks[i].TimeUs, kMicrosecondsPerMinute).Quotient;
        if (t.ClickMinutes.empty() || t.ClickMinutes.back() != minute) {
            t.ClickMinutes.push_back(minute);
        }
        const bool buzz = t.Class == TrainClass::Nbhf && i > 0 && ici[i - 1] < o.BuzzIciMs;
        if (buzz) {
            ++t.BuzzClicks;
            if (t.BuzzMinutes.empty() || t.BuzzMinutes.back() != minute) {
                t.BuzzMinutes.push_back(minute);
            }
        }
    }
    return t;
}

void WeighCompany(Train& t, std::span<const Train* const> around, const TrainOptions& o) {
    if (t.Class == TrainClass::Sonar) return;
    int32_t dolphins = 0, nbhf = t.Quality >= TrainQuality::Moderate ? 1 : 0;
    // A short train beside a sounder in its band may be that sounder's pings cut apart.
    bool sounderInBand = false;
    for (const Train* a : around) {
        if (a->Class == TrainClass::Sonar &&
            std::fabs(a->KhzMedian - t.KhzMedian) <= o.ShortSonarKhz) {
            sounderInBand = true;
        }
        if (a->Class == TrainClass::Sonar && a->IciModalMs > 0) {
            for (const double k : {1.0, 2.0, 3.0, 4.0}) {
                if (std::fabs(t.IciModalMs / (k * a->IciModalMs) - 1) * 100 <=
                    o.SonarEchoTolerance) {
                    t.Class = TrainClass::Sonar;
                }
            }
        }
        if (a->Quality < TrainQuality::Moderate) continue;
        if (a->Class == TrainClass::Dolphin) ++dolphins;
        if (a->Class == TrainClass::Nbhf) ++nbhf;
    }
    // Its own clicks outweigh the company: long narrow-band clicks are no dolphin's, unless
    // clipping made every peak alike.
    const bool ownEvidence = t.RingMedian >= o.CompanyMinRing && t.PmaxMedian < o.ClippedPmax;
    if (t.Class == TrainClass::Nbhf && dolphins > nbhf && !ownEvidence)
        t.Class = TrainClass::Dolphin;
    if (sounderInBand && t.Clicks < o.ModerateMinClicks) t.Quality = TrainQuality::Low;
    if (t.Class != TrainClass::Nbhf) {
        t.BuzzClicks = 0;
        t.BuzzMinutes.clear();
    }
}

}  // namespace wtk::presence
