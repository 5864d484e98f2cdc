// The train rules on clicks of known kinds: what becomes a train, of which class and quality,
// with its buzz; how chains are kept apart and where they are never joined.
#include "presence/trains.h"

#include <gtest/gtest.h>

#include <string>

#include "presence/train_rules.h"
#include "train_fixtures.h"

namespace wtk::presence::test {
namespace {

constexpr int64_t kSecond = 1'000'000;

std::string Describe(const std::vector<Train>& trains) {
    std::string s;
    for (const Train& t : trains) {
        s += std::to_string(t.Clicks) + " " + std::string(ClassName(t.Class)) + " " +
             std::string(QualityName(t.Quality)) + " modal " + std::to_string(t.IciModalMs) + "; ";
    }
    return s;
}

size_t CountAtLeast(const std::vector<Train>& trains, TrainQuality q) {
    size_t n = 0;
    for (const Train& t : trains) n += t.Quality >= q;
    return n;
}

// A porpoise scanning: its interval drifting from 80 ms down, amplitude rising and falling,
// one click missed, then closing on prey in a buzz at 2 ms.
std::vector<TimedClick> PorpoiseWithBuzz(int missedAt, int buzzClicks) {
    TrainSpec s;
    s.Clicks = 60;
    s.IciMs = 80;
    s.DriftPerClick = -0.012;
    s.JitterPerClick = 0.02;
    s.PeakPmax = 230;
    s.EdgePmax = 150;
    std::vector<TimedClick> clicks = TrainClicks(s);
    if (missedAt >= 0) clicks.erase(clicks.begin() + missedAt);
    TrainSpec buzz = s;
    buzz.StartUs = clicks.back().TimeUs + 12'000;
    buzz.Clicks = buzzClicks;
    buzz.IciMs = 2;
    buzz.DriftPerClick = 0;
    buzz.PeakPmax = buzz.EdgePmax = 150;
    buzz.Seed = 2;
    std::vector<TimedClick> b = TrainClicks(buzz);
    clicks.insert(clicks.end(), b.begin(), b.end());
    return clicks;
}

TEST(Trains, DriftingPorpoiseWithAMissedClickAndABuzzIsOneNbhfTrain) {
    const std::vector<Train> trains = TrainsOf(PorpoiseWithBuzz(30, 80));
    ASSERT_EQ(trains.size(), 1u) << Describe(trains);
    const Train& t = trains[0];
    EXPECT_EQ(t.Class, TrainClass::Nbhf);
    EXPECT_EQ(t.Quality, TrainQuality::High);
    EXPECT_EQ(t.Clicks, 59 + 80);
    EXPECT_EQ(t.BuzzClicks, 79);  // the first follows the train 12 ms after its last click
    EXPECT_NEAR(t.IciMinMs, 2, 0.1);
    EXPECT_GT(t.IciMaxMs, 35);  // the interval across the missed click counts once, halved
    EXPECT_LT(t.IciMaxMs, 85);
    EXPECT_NEAR(t.KhzMedian, 133.3, 0.1);
    EXPECT_EQ(t.Number, 1);
    EXPECT_EQ(t.Chains.size(), 2u);  // the train's chain and the buzz's
    EXPECT_FALSE(t.BuzzMinutes.empty());
}

TEST(Trains, ABuzzLongAfterATrainIsATrainOfItsOwn) {
    std::vector<TimedClick> clicks = PorpoiseWithBuzz(-1, 60);
    // The buzz two seconds after the train's last click instead of 12 ms.
    for (size_t i = 60; i < clicks.size(); ++i) clicks[i].TimeUs += 2'000'000;
    const std::vector<Train> trains = TrainsOf(clicks);
    ASSERT_EQ(trains.size(), 2u) << Describe(trains);
    EXPECT_EQ(trains[0].BuzzClicks, 0);
    EXPECT_EQ(trains[1].Clicks, 60);
    EXPECT_EQ(trains[1].BuzzClicks, 59);
}

TEST(Trains, EchosounderAt130KhzIsSonarNeverNbhf) {
    // Pings of a 130 kHz sounder every 250 ms at one level, a minute long, in three forms:
    // short pings of porpoise-like cycles, long pings, and with every fifth ping lost.
    for (const auto& [cycles, dropEvery] : {std::pair{14, 0}, std::pair{90, 0}, std::pair{14, 5}}) {
        TrainSpec s;
        s.Clicks = 240;
        s.IciMs = 250;
        s.JitterPerClick = 0.0001;
        s.Cycles = cycles;
        s.PeakPmax = s.EdgePmax = 180;
        std::vector<TimedClick> clicks = TrainClicks(s);
        if (dropEvery > 0) {
            std::vector<TimedClick> kept;
            for (size_t i = 0; i < clicks.size(); ++i) {
                if (i % static_cast<size_t>(dropEvery) != 3) kept.push_back(clicks[i]);
            }
            clicks = kept;
        }
        const std::vector<Train> trains = TrainsOf(clicks);
        ASSERT_EQ(trains.size(), 1u) << cycles << " " << Describe(trains);
        EXPECT_EQ(trains[0].Class, TrainClass::Sonar) << cycles;
        EXPECT_EQ(trains[0].Clicks, static_cast<int32_t>(clicks.size()));
        EXPECT_NEAR(trains[0].IciModalMs, 250, 0.1);
    }
    // Pings a second and a half apart: beyond an animal's intervals, still a sounder's.
    TrainSpec slow;
    slow.Clicks = 40;
    slow.IciMs = 1500;
    slow.JitterPerClick = 0.0001;
    slow.PeakPmax = slow.EdgePmax = 180;
    const std::vector<Train> trains = TrainsOf(TrainClicks(slow));
    ASSERT_EQ(trains.size(), 1u) << Describe(trains);
    EXPECT_EQ(trains[0].Class, TrainClass::Sonar);

    // Every ping followed by its bottom echo, weaker, 20-30 ms later as the boat drifts and
    // wandering in time and level: the echoes keep the pings' interval, so they are sonar too.
    TrainSpec pings;
    pings.Clicks = 120;
    pings.IciMs = 250;
    pings.JitterPerClick = 0.0001;
    pings.PeakPmax = pings.EdgePmax = 180;
    const std::vector<TimedClick> pingClicks = TrainClicks(pings);
    std::mt19937_64 g(3);
    std::vector<TimedClick> echoes;
    for (size_t k = 0; k < pingClicks.size(); ++k) {
        const auto delay = static_cast<int64_t>(20'000 + 80 * k + g() % 1200);
        echoes.push_back(
            ClickAt(pingClicks[k].TimeUs + delay, 130, 14, 110 + static_cast<int>(g() % 12)));
    }
    const std::vector<Train> withEchoes = TrainsOf(Merged({pingClicks, echoes}));
    for (const Train& t : withEchoes) EXPECT_NE(t.Class, TrainClass::Nbhf) << Describe(withEchoes);
}

TEST(Trains, ShrimpAndIsolatedClicksMakeNoTrainThatCounts) {
    // Snapping shrimp at 2, 10 and 40 a second for a minute: random intervals, broadband.
    for (const double rate : {2.0, 10.0, 40.0}) {
        const std::vector<Train> trains = TrainsOf(RandomClicks(kDay, 60, rate, 7));
        EXPECT_EQ(CountAtLeast(trains, TrainQuality::Moderate), 0u)
            << rate << ": " << Describe(trains);
        for (const Train& t : trains) EXPECT_NE(t.Class, TrainClass::Nbhf) << rate;
    }
    // Isolated NBHF-like clicks, seconds apart.
    const std::vector<Train> isolated = TrainsOf(RandomClicks(kDay, 600, 0.3, 8, 125, 140, 10, 16));
    EXPECT_TRUE(isolated.empty()) << Describe(isolated);
}

TEST(Trains, NoiseBurstsGiveNoNbhfPresence) {
    // Bursts of NBHF-like detections at random, hundreds a second for a few seconds.
    const std::vector<TimedClick> burst = RandomClicks(kDay, 5, 300, 9, 110, 160, 5, 12);
    for (const Train& t : TrainsOf(burst)) {
        EXPECT_FALSE(t.Class == TrainClass::Nbhf && t.Quality >= TrainQuality::Moderate)
            << Describe({t});
    }
}

TEST(Trains, DolphinTrainIsDolphin) {
    TrainSpec s;
    s.Clicks = 80;
    s.IciMs = 45;
    s.DriftPerClick = 0.01;
    s.JitterPerClick = 0.03;
    s.Khz = 60;
    s.Cycles = 2;
    s.Spread = 12;
    const std::vector<Train> trains = TrainsOf(TrainClicks(s));
    ASSERT_EQ(trains.size(), 1u) << Describe(trains);
    EXPECT_EQ(trains[0].Class, TrainClass::Dolphin);
    EXPECT_GE(trains[0].Quality, TrainQuality::Moderate);
    // Broadband clicks of a few cycles read as NBHF frequencies are no NBHF train either.
    s.Khz = 130;
    const std::vector<Train> ringing = TrainsOf(TrainClicks(s));
    ASSERT_EQ(ringing.size(), 1u) << Describe(ringing);
    EXPECT_EQ(ringing[0].Class, TrainClass::Dolphin);
}

TEST(Trains, TwoAnimalsAtOnceMakeTwoTrains) {
    TrainSpec a;
    a.Clicks = 70;
    a.IciMs = 50;
    a.Khz = 130;
    TrainSpec b = a;
    b.StartUs = a.StartUs + 17'000;
    b.Clicks = 50;
    b.IciMs = 73;
    b.Khz = 138;
    b.PeakPmax = 160;
    b.EdgePmax = 100;
    b.Seed = 3;
    const std::vector<Train> trains = TrainsOf(Merged({TrainClicks(a), TrainClicks(b)}));
    ASSERT_EQ(trains.size(), 2u) << Describe(trains);
    EXPECT_EQ(trains[0].Clicks, 70);
    EXPECT_NEAR(trains[0].IciModalMs, 50, 2);
    EXPECT_EQ(trains[1].Clicks, 50);
    EXPECT_NEAR(trains[1].IciModalMs, 73, 3);
    for (const Train& t : trains) EXPECT_EQ(t.Class, TrainClass::Nbhf);
    // The same two trains with shrimp snapping around them.
    const std::vector<Train> noisy =
        TrainsOf(Merged({TrainClicks(a), TrainClicks(b), RandomClicks(kDay, 5, 15, 4)}));
    EXPECT_EQ(CountAtLeast(noisy, TrainQuality::Moderate), 2u) << Describe(noisy);
}

TEST(Trains, NeverJoinedAcrossARecordingsEndOrAGap) {
    TrainSpec s;
    s.Clicks = 60;
    std::vector<TimedClick> clicks = TrainClicks(s);
    // The second half comes from the next recording, which starts where the first ends.
    std::vector<TimedClick> recordings = clicks;
    for (size_t i = 30; i < recordings.size(); ++i) recordings[i].Recording = 1;
    // The second half after a gap of three minutes in one recording.
    std::vector<TimedClick> gap = clicks;
    for (size_t i = 30; i < gap.size(); ++i) gap[i].TimeUs += 180 * kSecond;
    for (const auto& input : {recordings, gap}) {
        const std::vector<Train> trains = TrainsOf(input);
        ASSERT_EQ(trains.size(), 2u) << Describe(trains);
        EXPECT_EQ(trains[0].Clicks, 30);
        EXPECT_EQ(trains[1].Clicks, 30);
        EXPECT_LT(trains[0].EndUs, input[30].TimeUs);
    }
    EXPECT_EQ(TrainsOf(recordings)[1].Recording, 1);
    // Break() ends every chain where the caller knows the recording stopped.
    TrainDetector d;
    for (size_t i = 0; i < clicks.size(); ++i) {
        if (i == 30) d.Break();
        d.Feed(clicks[i]);
    }
    d.Finish();
    Train t;
    int n = 0;
    while (d.NextTrain(t)) {
        ++n;
        EXPECT_EQ(t.Clicks, 30);
    }
    EXPECT_EQ(n, 2);
}

TEST(Trains, EveryClickIsSettledOnceWithTheChainOfItsTrain) {
    const std::vector<TimedClick> clicks =
        Merged({PorpoiseWithBuzz(-1, 40), RandomClicks(kDay, 8, 5, 5)});
    TrainDetector d({}, true);
    std::vector<ChainKey> chainOf(clicks.size(), kNoChain);
    std::vector<int> settled(clicks.size(), 0);
    std::vector<Train> trains;
    auto drain = [&] {
        uint64_t sequence = 0;
        ChainKey chain = kNoChain;
        while (d.NextSettled(sequence, chain)) {
            ASSERT_LT(sequence, clicks.size());
            ++settled[sequence];
            chainOf[sequence] = chain;
        }
        Train t;
        while (d.NextTrain(t)) trains.push_back(t);
    };
    for (const TimedClick& c : clicks) {
        d.Feed(c);
        drain();
    }
    d.Finish();
    drain();
    ASSERT_EQ(trains.size(), 1u) << Describe(trains);
    int inTrain = 0;
    for (size_t i = 0; i < clicks.size(); ++i) {
        EXPECT_EQ(settled[i], 1) << i;
        for (const ChainKey k : trains[0].Chains) inTrain += chainOf[i] == k;
    }
    EXPECT_EQ(inTrain, trains[0].Clicks);
}

TEST(Trains, TrainsComeInOrderOfTheirStartNumberedFromOne) {
    // A long sonar starts first; porpoise trains close while it goes on.
    TrainSpec sonar;
    sonar.Clicks = 200;
    sonar.IciMs = 300;
    sonar.JitterPerClick = 0.0001;
    sonar.Khz = 50;
    sonar.Cycles = 60;
    sonar.PeakPmax = sonar.EdgePmax = 150;
    std::vector<std::vector<TimedClick>> parts = {TrainClicks(sonar)};
    for (int k = 0; k < 5; ++k) {
        TrainSpec p;
        p.StartUs = kDay + (5 + 10 * k) * kSecond;
        p.Seed = 10 + static_cast<uint64_t>(k);
        parts.push_back(TrainClicks(p));
    }
    const std::vector<Train> trains = TrainsOf(Merged(parts));
    ASSERT_EQ(trains.size(), 6u) << Describe(trains);
    EXPECT_EQ(trains[0].Class, TrainClass::Sonar);
    for (size_t i = 0; i < trains.size(); ++i) {
        EXPECT_EQ(trains[i].Number, static_cast<int64_t>(i + 1));
        if (i > 0) {
            EXPECT_LT(trains[i - 1].StartUs, trains[i].StartUs);
        }
    }
}

TEST(Trains, EncountersJoinNbhfTrainsLessThanTenMinutesApart) {
    EncounterGrouper g({}, TrainQuality::Moderate);
    auto train = [](int64_t startMin, TrainClass c, TrainQuality q) {
        Train t;
        t.StartUs = kDay + startMin * 60 * kSecond;
        t.EndUs = t.StartUs + 2 * kSecond;
        t.Class = c;
        t.Quality = q;
        return t;
    };
    const struct {
        int64_t StartMin;
        TrainClass Class;
        TrainQuality Quality;
        int64_t Encounter;
    } kRows[] = {
        {0, TrainClass::Nbhf, TrainQuality::High, 1},
        {9, TrainClass::Nbhf, TrainQuality::Moderate, 1},  // 9 min after the last end
        {15, TrainClass::Sonar, TrainQuality::High, 0},    // not NBHF: in none
        {16, TrainClass::Nbhf, TrainQuality::Low, 0},      // below the quality
        {19, TrainClass::Nbhf, TrainQuality::High, 1},     // 10 min less 2 s after
        {30, TrainClass::Nbhf, TrainQuality::High, 2},     // 11 min after
    };
    for (const auto& row : kRows) {
        Train t = train(row.StartMin, row.Class, row.Quality);
        g.Assign(t);
        EXPECT_EQ(t.Encounter, row.Encounter) << row.StartMin;
    }
    EXPECT_EQ(g.Encounters(), 2);
}

TEST(Trains, OptionsAreSetByNameWithinTheirRange) {
    TrainOptions o;
    std::string error;
    EXPECT_TRUE(SetTrainOption(o, "MinClicks", "8", error));
    EXPECT_EQ(o.MinClicks, 8);
    EXPECT_TRUE(SetTrainOption(o, "NbhfMinKhz", "110.5", error));
    EXPECT_EQ(o.NbhfMinKhz, 110.5);
    for (const auto& [name, value] :
         {std::pair{"MinClicks", "2"}, std::pair{"MinClicks", "8x"}, std::pair{"MinClicks", ""},
          std::pair{"NoSuch", "1"}, std::pair{"MaxChance", "nan"}}) {
        EXPECT_FALSE(SetTrainOption(o, name, value, error)) << name << "=" << value;
        EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(o.MinClicks, 8);
    // Every threshold has a row, and its default lies within the row's range.
    const TrainOptions defaults;
    for (const TrainOptionDef& d : TrainOptionDefs()) {
        EXPECT_GE(defaults.*d.Field, d.Min) << d.Name;
        EXPECT_LE(defaults.*d.Field, d.Max) << d.Name;
    }
    EXPECT_EQ(TrainOptionDefs().size() * sizeof(double), sizeof(TrainOptions));
}

TEST(Trains, ClassAndQualityNamesReadBack) {
    for (int c = 0; c < kTrainClasses; ++c) {
        EXPECT_EQ(ParseClass(ClassName(static_cast<TrainClass>(c))), static_cast<TrainClass>(c));
    }
    for (const TrainQuality q : {TrainQuality::Low, TrainQuality::Moderate, TrainQuality::High}) {
        EXPECT_EQ(ParseQuality(QualityName(q)), q);
    }
    EXPECT_FALSE(ParseQuality("Moderate"));
    EXPECT_FALSE(ParseClass(""));
}

}  // namespace
}  // namespace wtk::presence::test
