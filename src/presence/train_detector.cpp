// The chaining of clicks into trains (trains.h); what a finished chain is decides
// DescribeTrain (train_rules.h).
#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <map>
#include <optional>
#include <queue>
#include <set>
#include <tuple>
#include <unordered_map>

#include "presence/train_rules.h"
#include "presence/trains.h"

namespace wtk::presence {

namespace {

constexpr int64_t kForever = std::numeric_limits<int64_t>::max();

int64_t Round(double v) {
    return static_cast<int64_t>(std::llround(v));
}
// Candidates weighed per decision, so that a burst of noise costs a bounded time per click.
constexpr int kMaxSecondClicks = 64;
constexpr int kMaxThirdClicks = 16;
constexpr int kMaxNextClicks = 64;
// Missed pings a chain of regular pings may span.
constexpr int kMaxPingGaps = 4;

struct BufClick {
    ChainClick C;
    ChainKey Chain = kNoChain;
    uint64_t Sequence = 0;  // in the order fed
};

// The clicks not settled yet, in time order: a vector whose front is dropped by moving a
// start, so that the binary searches over it are cheap.
class RecentClicks {
public:
    size_t size() const { return items_.size() - head_; }
    bool empty() const { return size() == 0; }
    BufClick& operator[](size_t i) { return items_[head_ + i]; }
    const BufClick& operator[](size_t i) const { return items_[head_ + i]; }
    BufClick& front() { return items_[head_]; }
    const BufClick& back() const { return items_.back(); }
    void push_back(const BufClick& b) { items_.push_back(b); }
    void insert(size_t i, const BufClick& b) {
        items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(head_ + i), b);
    }
    void pop_front() {
        if (++head_ >= 4096 && head_ * 2 >= items_.size()) {
            items_.erase(items_.begin(), items_.begin() + static_cast<std::ptrdiff_t>(head_));
            head_ = 0;
        }
    }
    // The first click at or after time t.
    size_t FirstAt(int64_t t) const {
        const auto begin = items_.begin() + static_cast<std::ptrdiff_t>(head_);
        return static_cast<size_t>(
            std::partition_point(begin, items_.end(),
                                 [&](const BufClick& b) { return b.C.TimeUs < t; }) -
            begin);
    }

private:
    std::vector<BufClick> items_;
    size_t head_ = 0;
};

// How far back in time a click may come and still take its place among the recent clicks.
constexpr int64_t kMaxStepBackUs = 1'000'000;

struct Chain {
    ChainKey Key = kNoChain;
    int32_t Recording = kNoRecording;
    std::vector<ChainClick> Clicks;  // in time order, but for a buzz merged into the chain
    std::vector<ChainKey> Keys;      // its own key and those of the buzz chains merged in
    int64_t StartUs = 0;
    int64_t EndUs = 0;     // its latest click, a buzz merged into it included
    ChainClick Last;       // its latest click
    int64_t LastIci = 0;   // the interval that ended at it, per click (us)
    int64_t PrevIci = 0;   // the one before
    int Gaps = 1;          // the intervals waited for: more than 1 after missed clicks
    int RegularRun = 0;    // intervals in a row equal to the one before within a clock's
                           // tolerance
    int64_t Decision = 0;  // when it next chooses
};

// A chain that has closed, waiting to be given out in order of the trains' starts; described
// (and its clicks let go) once no buzz can join it any more.
struct Closed {
    Chain C;
    bool Described = false;
    std::optional<Train> T;  // the train it is, once described; nothing: no train
};

}  // namespace

struct TrainDetector::Impl {
    explicit Impl(const TrainOptions& o, bool report) : O(o), Report(report) {
        MinIci = Round(o.MinIciMs * 1000);
        MaxIci = Round(o.MaxIciMs * 1000);
        MaxSonarIci = std::max(MaxIci, Round(o.MaxSonarIciMs * 1000));
        Change = o.MaxIciChange;
        SeedChange = std::sqrt(o.MaxIciChange);
        Regular = 1 + 1.5 * o.SonarIciTolerance / 100;
        SeedRegular = 1 + o.SonarIciTolerance / 100;
        // Every chain that could take a click has chosen before the click is seeded, and the
        // clicks after it that could begin a chain with it have come.
        SeedWait = std::max(Round(2 * static_cast<double>(MaxIci) * Change),
                            Round(3 * static_cast<double>(MaxSonarIci) * Regular)) +
                   1;
    }

    TrainOptions O;
    bool Report;
    int64_t MinIci, MaxIci, MaxSonarIci, SeedWait;
    double Change, SeedChange, Regular, SeedRegular;

    RecentClicks Buf;  // the clicks not yet settled
    bool Any = false;
    int32_t Recording = kNoRecording;
    int64_t Now = 0;
    ChainKey NextKey = 1;
    std::unordered_map<ChainKey, Chain> Open;
    std::set<std::pair<int64_t, ChainKey>> OpenStarts;
    using Decision = std::pair<int64_t, ChainKey>;
    std::priority_queue<Decision, std::vector<Decision>, std::greater<>> Decisions;
    std::map<std::pair<int64_t, ChainKey>, Closed> Pending;  // by start
    // The closed chains not described yet, by their end.
    std::multimap<int64_t, std::pair<int64_t, ChainKey>> Undescribed;
    std::deque<Train> Held;     // given a number, waiting until every train around it is known
    std::vector<Train> Recent;  // trains let go that those still held may have around them
    std::deque<Train> Ready;
    std::deque<std::pair<uint64_t, ChainKey>> Settled;
    uint64_t Fed = 0;
    int64_t Trains = 0;

    // How well b follows a in frequency and level (0 best, up to 2); negative: it does not.
    // Pings at intervals longer than an animal's keep their frequency and level closely.
    double FeatureStep(const ChainClick& a, const ChainClick& b, bool ping) const {
        const double khzStep = ping ? O.MaxKhzStep / 2 : O.MaxKhzStep;
        const double levelStep = ping ? O.MaxLevelStepDb / 2 : O.MaxLevelStepDb;
        double score = 0;
        if (a.Khz > 0 && b.Khz > 0) {
            const double step = std::fabs(a.Khz - b.Khz) / khzStep;
            if (step > 1) return -1;
            score += step;
        }
        const double level = std::fabs(a.LevelDb - b.LevelDb) / levelStep;
        if (level > 1) return -1;
        return score + level;
    }

    size_t FirstAt(int64_t t) const { return Buf.FirstAt(t); }

    // A chain that keeps its interval like a clock (pings) may span up to kMaxPingGaps missed
    // pings, each window as narrow as the clock is steady; pings further apart than an
    // animal's clicks are followed that closely from one to the next too.
    bool Clockwork(const Chain& c) const { return c.LastIci > MaxIci || c.RegularRun >= 4; }

    int64_t Predicted(const Chain& c) const {
        if (Clockwork(c) || c.PrevIci <= 0) return c.LastIci;
        // Half the latest trend of a drifting interval.
        const double trend = std::clamp(
            std::sqrt(static_cast<double>(c.LastIci) / static_cast<double>(c.PrevIci)), 0.9, 1.1);
        return Round(static_cast<double>(c.LastIci) * trend);
    }

    double ChangeFor(const Chain& c) const {
        return c.LastIci > MaxIci || (c.Gaps > 1 && Clockwork(c)) ? Regular : Change;
    }

    void Schedule(Chain& c) {
        const double expected = static_cast<double>(c.Gaps * Predicted(c));
        c.Decision = c.Last.TimeUs + Round(expected * ChangeFor(c));
        Decisions.emplace(c.Decision, c.Key);
    }

    // The chain chooses its next click among those that could follow it.
    void Decide(Chain& c) {
        const int64_t p = Predicted(c);
        const double change = ChangeFor(c);
        const double expected = static_cast<double>(c.Gaps * p);
        const int64_t from =
            std::max(c.Last.TimeUs + MinIci, c.Last.TimeUs + Round(expected / change));
        const int64_t to = c.Last.TimeUs + Round(expected * change);
        BufClick* best = nullptr;
        double bestScore = 0, bestDeviation = 0;
        int weighed = 0;
        for (size_t i = FirstAt(from); i < Buf.size() && Buf[i].C.TimeUs <= to; ++i) {
            BufClick& b = Buf[i];
            if (b.Chain != kNoChain) continue;
            const double features = FeatureStep(c.Last, b.C, p > MaxIci);
            if (features < 0) continue;
            const double ici = static_cast<double>(b.C.TimeUs - c.Last.TimeUs);
            const double deviation = std::fabs(std::log(ici / expected)) / std::log(change);
            const double score = deviation + features;
            if (best == nullptr || score < bestScore) {
                best = &b;
                bestScore = score;
                bestDeviation = deviation;
            }
            if (++weighed >= kMaxNextClicks) break;
        }
        if (best != nullptr) {
            Extend(c, *best, c.Gaps, Chance(bestDeviation, weighed));
            Schedule(c);
        } else if (c.Gaps < (Clockwork(c) ? kMaxPingGaps : 2)) {
            ++c.Gaps;
            Schedule(c);
        } else {
            Close(c.Key);
        }
    }

    static float Chance(double deviation, int candidates) {
        return static_cast<float>(std::min(1.0, deviation * candidates));
    }

    void Extend(Chain& c, BufClick& b, int gaps, float chance) {
        b.Chain = c.Key;
        ChainClick added = b.C;
        added.Gap = static_cast<uint8_t>(gaps);
        added.Chance = chance;
        c.PrevIci = c.LastIci;
        c.LastIci = (b.C.TimeUs - c.Last.TimeUs) / gaps;
        const bool regular =
            c.PrevIci > 0 &&
            std::fabs(static_cast<double>(c.LastIci) / static_cast<double>(c.PrevIci) - 1) * 100 <=
                O.SonarIciTolerance;
        c.RegularRun = regular ? c.RegularRun + 1 : 0;
        c.Last = added;
        c.EndUs = std::max(c.EndUs, added.TimeUs);
        c.Gaps = 1;
        c.Clicks.push_back(added);
    }

    // The click at Buf[0] seeds a chain with the next click that two clicks can follow, and
    // the one of them that follows on best, if any do. The nearest such second click is taken,
    // so that a chain does not skip every other click of a train.
    void Seed() {
        BufClick& a = Buf[0];
        if (a.Chain != kNoChain) return;
        int seconds = 0;
        for (size_t j = FirstAt(a.C.TimeUs + MinIci);
             j < Buf.size() && Buf[j].C.TimeUs <= a.C.TimeUs + MaxSonarIci; ++j) {
            BufClick& b = Buf[j];
            if (b.Chain != kNoChain) continue;
            const int64_t d = b.C.TimeUs - a.C.TimeUs;
            const bool ping = d > MaxIci;
            const double ab = FeatureStep(a.C, b.C, ping);
            if (ab < 0) continue;
            if (++seconds > kMaxSecondClicks) break;
            const double change = ping ? SeedRegular : SeedChange;
            const int64_t from =
                b.C.TimeUs + std::max(MinIci, Round(static_cast<double>(d) / change));
            const int64_t to = b.C.TimeUs + Round(static_cast<double>(d) * change);
            BufClick* bestC = nullptr;
            double bestScore = 0, bestDeviation = 0;
            int thirds = 0;
            for (size_t k = FirstAt(from); k < Buf.size() && Buf[k].C.TimeUs <= to; ++k) {
                BufClick& c = Buf[k];
                if (c.Chain != kNoChain) continue;
                const double bc = FeatureStep(b.C, c.C, ping);
                if (bc < 0) continue;
                const double ratio = static_cast<double>(c.C.TimeUs - b.C.TimeUs) / d;
                const double deviation = std::fabs(std::log(ratio)) / std::log(change);
                const double score = deviation + bc;
                if (bestC == nullptr || score < bestScore) {
                    bestC = &c;
                    bestScore = score;
                    bestDeviation = deviation;
                }
                if (++thirds >= kMaxThirdClicks) break;
            }
            if (bestC == nullptr) continue;
            // Pings further apart than an animal's clicks begin a chain only with a fourth at
            // the same interval: among random clicks three such are found too often.
            BufClick* fourth = nullptr;
            if (ping) {
                const int64_t e = bestC->C.TimeUs - b.C.TimeUs;
                const int64_t at = bestC->C.TimeUs + e;
                for (size_t k = FirstAt(at - Round(static_cast<double>(e) * (change - 1)));
                     k < Buf.size() &&
                     Buf[k].C.TimeUs <= at + Round(static_cast<double>(e) * (change - 1));
                     ++k) {
                    if (Buf[k].Chain == kNoChain && FeatureStep(bestC->C, Buf[k].C, true) >= 0) {
                        fourth = &Buf[k];
                        break;
                    }
                }
                if (fourth == nullptr) continue;
            }
            Chain chain;
            chain.Key = NextKey++;
            chain.Recording = Recording;
            chain.Keys.push_back(chain.Key);
            chain.StartUs = a.C.TimeUs;
            chain.Last = a.C;
            chain.Clicks.push_back(a.C);
            a.Chain = chain.Key;
            Extend(chain, b, 1, -1);
            Extend(chain, *bestC, 1, Chance(bestDeviation, thirds));
            if (fourth != nullptr) {
                const double expected = static_cast<double>(chain.LastIci);
                const double deviation =
                    std::fabs(std::log(static_cast<double>(fourth->C.TimeUs - bestC->C.TimeUs) /
                                       expected)) /
                    std::log(change);
                Extend(chain, *fourth, 1, Chance(deviation, 1));
            }
            OpenStarts.emplace(chain.StartUs, chain.Key);
            auto [it, inserted] = Open.emplace(chain.Key, std::move(chain));
            Schedule(it->second);
            return;
        }
    }

    void Close(ChainKey key) {
        auto it = Open.find(key);
        Chain c = std::move(it->second);
        Open.erase(it);
        OpenStarts.erase({c.StartUs, c.Key});
        if (static_cast<double>(c.Clicks.size()) < O.MinClicks) return;
        if (MedianIciMs(c.Clicks) < O.BuzzIciMs && MergeBuzz(c)) return;
        Undescribed.emplace(c.EndUs, std::make_pair(c.StartUs, c.Key));
        Pending.emplace(std::make_pair(c.StartUs, c.Key), Closed{std::move(c), false, {}});
    }

    // A buzz that begins in a train or less than MaxIciMs after its last click, at the train's
    // frequency, ends that train.
    bool MergeBuzz(Chain& buzz) {
        Chain* parent = nullptr;
        auto consider = [&](Chain& p) {
            if (p.StartUs >= buzz.StartUs || p.Recording != buzz.Recording) return;
            if (buzz.StartUs - p.Last.TimeUs > MaxIci) return;
            if (MedianIciMs(p.Clicks) < O.BuzzIciMs) return;
            if (p.Last.Khz > 0 && buzz.Clicks.front().Khz > 0 &&
                std::fabs(p.Last.Khz - buzz.Clicks.front().Khz) > O.MaxKhzStep) {
                return;
            }
            if (parent == nullptr || p.Last.TimeUs > parent->Last.TimeUs) parent = &p;
        };
        for (auto& [key, p] : Open) consider(p);
        for (auto& [start, p] : Pending) {
            if (!p.Described) consider(p.C);
        }
        if (parent == nullptr) return false;
        for (ChainClick c : buzz.Clicks) {
            c.Part = 1;
            parent->Clicks.push_back(c);
        }
        parent->Keys.insert(parent->Keys.end(), buzz.Keys.begin(), buzz.Keys.end());
        parent->EndUs = std::max(parent->EndUs, buzz.EndUs);
        return true;
    }

    // Every decision due before limit, in time order.
    void Process(int64_t limit) {
        for (;;) {
            while (!Decisions.empty()) {
                const auto [when, key] = Decisions.top();
                const auto it = Open.find(key);
                if (it != Open.end() && it->second.Decision == when) break;
                Decisions.pop();  // stale
            }
            const int64_t decision = Decisions.empty() ? kForever : Decisions.top().first;
            const int64_t seed = Buf.empty() ? kForever : Buf.front().C.TimeUs + SeedWait;
            if (std::min(decision, seed) >= limit || std::min(decision, seed) == kForever) break;
            if (decision <= seed) {
                const ChainKey key = Decisions.top().second;
                Decisions.pop();
                Decide(Open.at(key));
            } else {
                Seed();
                if (Report) Settled.emplace_back(Buf.front().Sequence, Buf.front().Chain);
                Buf.pop_front();
            }
        }
        Emit(limit);
    }

    // The train a closed chain is.
    void Describe(Closed& closed) {
        Chain& c = closed.C;
        if (c.Keys.size() > 1) {
            // A missed click counts within its own chain only: after a click of the other
            // chain the interval is whatever it is.
            std::stable_sort(
                c.Clicks.begin(), c.Clicks.end(),
                [](const ChainClick& x, const ChainClick& y) { return x.TimeUs < y.TimeUs; });
            for (size_t i = 1; i < c.Clicks.size(); ++i) {
                if (c.Clicks[i].Part != c.Clicks[i - 1].Part) c.Clicks[i].Gap = 1;
            }
        }
        closed.T = DescribeTrain(c.Clicks, O);
        if (closed.T) {
            closed.T->Chains = c.Keys;
            closed.T->Recording = c.Recording;
        }
        closed.Described = true;
        std::vector<ChainClick>().swap(c.Clicks);
    }

    // A closed chain may still be joined by a buzz, and be preceded by a chain open or yet to
    // be seeded, until this long after its end.
    bool PastItsWindow(int64_t endUs, int64_t processed) const {
        return processed == kForever || endUs + MaxIci + SeedWait < processed;
    }

    // The closed chains that no chain still open or yet to be seeded can precede or end, as
    // trains; those that wait behind a chain still open are described meanwhile.
    void Emit(int64_t processed) {
        while (!Undescribed.empty() && PastItsWindow(Undescribed.begin()->first, processed)) {
            const auto at = Pending.find(Undescribed.begin()->second);
            Undescribed.erase(Undescribed.begin());
            if (at != Pending.end() && !at->second.Described) Describe(at->second);
        }
        while (!Pending.empty()) {
            auto it = Pending.begin();
            Closed& c = it->second;
            const int64_t end = c.C.EndUs;
            const bool openBefore =
                !OpenStarts.empty() && OpenStarts.begin()->first <= end + MaxIci;
            if (!PastItsWindow(end, processed) || openBefore) break;
            if (!c.Described) Describe(c);
            if (c.T) {
                c.T->Number = ++Trains;
                Held.push_back(std::move(*c.T));
            }
            Pending.erase(it);
        }
        Release(processed);
    }

    // The held trains whose company is known: every train that begins up to CompanySeconds
    // after their end has been numbered. Each is weighed among the trains around it as they
    // were described.
    void Release(int64_t processed) {
        const int64_t company = Round(O.CompanySeconds * 1e6);
        std::vector<const Train*> around;
        while (!Held.empty()) {
            Train& t = Held.front();
            const int64_t horizon = t.EndUs + company;
            if (processed != kForever &&
                (processed <= horizon + SeedWait ||
                 (!OpenStarts.empty() && OpenStarts.begin()->first <= horizon) ||
                 (!Pending.empty() && Pending.begin()->first.first <= horizon))) {
                break;
            }
            auto near = [&](const Train& a) {
                return a.Recording == t.Recording && a.StartUs <= horizon &&
                       a.EndUs >= t.StartUs - company;
            };
            std::erase_if(Recent, [&](const Train& a) { return a.EndUs < t.StartUs - company; });
            around.clear();
            for (const Train& a : Recent) {
                if (near(a)) around.push_back(&a);
            }
            for (size_t i = 1; i < Held.size() && Held[i].StartUs <= horizon; ++i) {
                if (near(Held[i])) around.push_back(&Held[i]);
            }
            Train described = t;
            described.ClickMinutes.clear();
            described.BuzzMinutes.clear();
            described.Chains.clear();
            WeighCompany(t, around, O);
            Ready.push_back(std::move(t));
            Held.pop_front();
            Recent.push_back(std::move(described));
        }
    }

    void CloseAll() {
        Process(kForever);
        while (!Open.empty()) Close(Open.begin()->first);
        Process(kForever);
        Recent.clear();
    }
};

TrainDetector::TrainDetector(const TrainOptions& options, bool reportClicks)
    : impl_(std::make_unique<Impl>(options, reportClicks)) {}
TrainDetector::~TrainDetector() = default;

void TrainDetector::Feed(const TimedClick& click) {
    Impl& d = *impl_;
    if (d.Any && (click.Recording != d.Recording || click.TimeUs < d.Now - kMaxStepBackUs)) {
        d.CloseAll();
        d.Now = click.TimeUs;
    }
    d.Any = true;
    d.Recording = click.Recording;
    d.Now = std::max(d.Now, click.TimeUs);
    d.Process(click.TimeUs);
    BufClick b{ChainClickOf(click), kNoChain, d.Fed++};
    if (d.Buf.empty() || d.Buf.back().C.TimeUs <= click.TimeUs) {
        d.Buf.push_back(b);
    } else {
        d.Buf.insert(d.FirstAt(click.TimeUs + 1), b);
    }
}

void TrainDetector::Break() {
    impl_->CloseAll();
}

void TrainDetector::Finish() {
    impl_->CloseAll();
}

bool TrainDetector::NextTrain(Train& train) {
    if (impl_->Ready.empty()) return false;
    train = std::move(impl_->Ready.front());
    impl_->Ready.pop_front();
    return true;
}

bool TrainDetector::NextSettled(uint64_t& sequence, ChainKey& chain) {
    if (impl_->Settled.empty()) return false;
    std::tie(sequence, chain) = impl_->Settled.front();
    impl_->Settled.pop_front();
    return true;
}

}  // namespace wtk::presence
