// What a chain is, one measure at a time: DescribeTrain on chains made click by click.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "presence/train_rules.h"

namespace wtk::presence {
namespace {

// A chain as the detector hands it over: n clicks at ici ms, each interval changed by jitter
// (alternately up and down), chosen with the chance given, of khz (alternately +- khzSpread),
// cycles, spread code, ring (the peaks around the largest, as a share of it), Pmax byte, and
// levels alternately levelStep dB apart.
struct ChainSpec {
    int Clicks = 30;
    double IciMs = 60;
    double Jitter = 0.02;
    double Chance = 0.05;
    double Khz = 133;
    double KhzSpread = 1;
    int Cycles = 14;
    int Spread = 6;
    double LevelDb = 50;
    double LevelStep = 1;
    double Ring = 0.9;
    int Pmax = 100;
};

std::vector<ChainClick> Chain(const ChainSpec& s) {
    std::vector<ChainClick> clicks;
    double t = 1e9;
    for (int k = 0; k < s.Clicks; ++k) {
        ChainClick c;
        c.TimeUs = std::llround(t);
        c.Khz = static_cast<float>(s.Khz + (k % 2 == 0 ? s.KhzSpread : -s.KhzSpread));
        c.LevelDb = static_cast<float>(s.LevelDb + (k % 2 == 0 ? 0 : s.LevelStep));
        c.Ncyc = static_cast<uint8_t>(s.Cycles);
        c.Spread = static_cast<uint8_t>(s.Spread);
        c.Pmax = static_cast<uint8_t>(s.Pmax);
        c.Ring = static_cast<float>(s.Ring);
        c.Chance = k < 2 ? -1 : static_cast<float>(s.Chance);
        clicks.push_back(c);
        t += s.IciMs * 1000 * (k % 2 == 0 ? 1 + s.Jitter : 1 - s.Jitter);
    }
    return clicks;
}

TEST(TrainRules, EachMeasureDecidesItsPart) {
    const TrainOptions o;
    auto with = [](auto change) {
        ChainSpec s;
        change(s);
        return s;
    };
    const struct {
        const char* What;
        ChainSpec Spec;
        std::optional<TrainClass> Class;  // nothing: no train
        TrainQuality Quality;
    } kRows[] = {
        {"porpoise", {}, TrainClass::Nbhf, TrainQuality::High},
        {"4 clicks", with([](ChainSpec& s) { s.Clicks = 4; }), std::nullopt, {}},
        {"random intervals", with([](ChainSpec& s) { s.Jitter = 0.1; }), std::nullopt, {}},
        {"there by chance", with([](ChainSpec& s) { s.Chance = 0.5; }), std::nullopt, {}},
        {"clockwork", with([](ChainSpec& s) { s.Jitter = 0.0005; }), TrainClass::Sonar,
         TrainQuality::High},
        {"clockwork by chance", with([](ChainSpec& s) {
             s.Jitter = 0.0005;
             s.Chance = 0.15;
         }),
         TrainClass::Nbhf, TrainQuality::Moderate},
        {"slow clockwork", with([](ChainSpec& s) {
             s.Jitter = 0.0005;
             s.IciMs = 1500;
         }),
         TrainClass::Sonar, TrainQuality::High},
        {"slow animal", with([](ChainSpec& s) { s.IciMs = 700; }), std::nullopt, {}},
        {"long pings", with([](ChainSpec& s) { s.Cycles = 40; }), TrainClass::Unclassed,
         TrainQuality::High},
        {"broad band", with([](ChainSpec& s) { s.Spread = 13; }), TrainClass::Unclassed,
         TrainQuality::High},
        {"few cycles, broad band", with([](ChainSpec& s) {
             s.Cycles = 3;
             s.Spread = 9;
         }),
         TrainClass::Dolphin, TrainQuality::High},
        {"few cycles, narrow band", with([](ChainSpec& s) {
             s.Cycles = 3;
             s.Spread = 5;
         }),
         TrainClass::Nbhf, TrainQuality::Moderate},
        {"few cycles, narrow band, 12 clicks", with([](ChainSpec& s) {
             s.Cycles = 4;
             s.Spread = 5;
             s.Clicks = 12;
         }),
         TrainClass::Nbhf, TrainQuality::Low},
        {"two cycles, narrow band", with([](ChainSpec& s) {
             s.Cycles = 2;
             s.Spread = 5;
         }),
         TrainClass::Dolphin, TrainQuality::High},
        {"few narrow cycles under the band", with([](ChainSpec& s) {
             s.Cycles = 4;
             s.Spread = 5;
             s.Khz = 108;
         }),
         TrainClass::Dolphin, TrainQuality::High},
        // A loud dolphin click counts many cycles in the band, but they fall away from its peak.
        {"short clicks in the band", with([](ChainSpec& s) {
             s.Khz = 118;
             s.Cycles = 12;
             s.Spread = 9;
             s.Ring = 0.5;
         }),
         TrainClass::Dolphin, TrainQuality::High},
        {"short clicks of few narrow cycles", with([](ChainSpec& s) {
             s.Cycles = 3;
             s.Spread = 5;
             s.Ring = 0.5;
         }),
         TrainClass::Dolphin, TrainQuality::High},
        {"clicks that just ring", with([](ChainSpec& s) { s.Ring = 0.62; }), TrainClass::Nbhf,
         TrainQuality::High},
        // Noise blurs a faint click's peaks; a loud one shows how long it rings.
        {"loud clicks that just ring", with([](ChainSpec& s) {
             s.Ring = 0.7;
             s.Pmax = 150;
         }),
         TrainClass::Dolphin, TrainQuality::High},
        // Clipped at full scale, every peak reads alike: the ring says nothing either way.
        {"clipped clicks that seem not to ring", with([](ChainSpec& s) {
             s.Ring = 0.5;
             s.Pmax = 250;
         }),
         TrainClass::Nbhf, TrainQuality::High},
        {"loud clicks that ring", with([](ChainSpec& s) {
             s.Ring = 0.8;
             s.Pmax = 200;
         }),
         TrainClass::Nbhf, TrainQuality::High},
        {"short clicks above the band", with([](ChainSpec& s) {
             s.Khz = 170;
             s.Ring = 0.5;
         }),
         TrainClass::Unclassed, TrainQuality::High},
        {"low frequency", with([](ChainSpec& s) { s.Khz = 60; }), TrainClass::Dolphin,
         TrainQuality::High},
        {"above the band", with([](ChainSpec& s) { s.Khz = 170; }), TrainClass::Unclassed,
         TrainQuality::High},
        {"10 clicks", with([](ChainSpec& s) { s.Clicks = 10; }), TrainClass::Nbhf,
         TrainQuality::Moderate},
        {"7 clicks", with([](ChainSpec& s) {
             s.Clicks = 7;
             s.Ring = 0.65;
         }),
         TrainClass::Nbhf, TrainQuality::Low},
        // A short train's long clicks that ring evenly are evidence in themselves, when the
        // train keeps a moderate one's intervals, chance, frequency and level.
        {"7 ringing clicks", with([](ChainSpec& s) {
             s.Clicks = 7;
             s.Ring = 0.75;
         }),
         TrainClass::Nbhf, TrainQuality::Moderate},
        {"7 clipped clicks", with([](ChainSpec& s) {
             s.Clicks = 7;
             s.Pmax = 250;
         }),
         TrainClass::Nbhf, TrainQuality::Low},
        {"7 ringing clicks of few cycles", with([](ChainSpec& s) {
             s.Clicks = 7;
             s.Cycles = 4;
         }),
         TrainClass::Nbhf, TrainQuality::Low},
        {"7 ringing clicks by chance", with([](ChainSpec& s) {
             s.Clicks = 7;
             s.Chance = 0.25;
         }),
         TrainClass::Nbhf, TrainQuality::Low},
        {"7 ringing clicks, random intervals", with([](ChainSpec& s) {
             s.Clicks = 7;
             s.Jitter = 0.06;
         }),
         TrainClass::Nbhf, TrainQuality::Low},
        {"7 ringing clicks, jumping level", with([](ChainSpec& s) {
             s.Clicks = 7;
             s.LevelStep = 6;
         }),
         TrainClass::Nbhf, TrainQuality::Low},
        {"drifting interval", with([](ChainSpec& s) { s.Jitter = 0.04; }), TrainClass::Nbhf,
         TrainQuality::Moderate},
        {"chance 0.15", with([](ChainSpec& s) { s.Chance = 0.15; }), TrainClass::Nbhf,
         TrainQuality::Moderate},
        {"chance 0.25", with([](ChainSpec& s) { s.Chance = 0.25; }), TrainClass::Nbhf,
         TrainQuality::Low},
        {"jumping level", with([](ChainSpec& s) { s.LevelStep = 6; }), TrainClass::Nbhf,
         TrainQuality::Low},
        {"wandering frequency", with([](ChainSpec& s) { s.KhzSpread = 12; }), TrainClass::Nbhf,
         TrainQuality::Low},
        {"dolphin, wandering frequency", with([](ChainSpec& s) {
             s.Khz = 60;
             s.KhzSpread = 12;
         }),
         TrainClass::Dolphin, TrainQuality::High},
    };
    for (const auto& row : kRows) {
        const std::optional<Train> t = DescribeTrain(Chain(row.Spec), o);
        ASSERT_EQ(t.has_value(), row.Class.has_value()) << row.What;
        if (!t) continue;
        EXPECT_EQ(t->Class, *row.Class) << row.What;
        EXPECT_EQ(t->Quality, row.Quality) << row.What;
        EXPECT_EQ(t->Clicks, row.Spec.Clicks) << row.What;
    }
}

TEST(TrainRules, AClickRingsAsItsPeaksLinearAmplitudesDo) {
    const struct {
        uint8_t Before, Peak, After;
        float Ring;
    } kRows[] = {
        {100, 100, 100, 1.0f},  // even cycles
        {50, 100, 0, 0.25f},    // the largest peak was the last
        // Above 127 the bytes are compressed: 230 is 704, 226 576, 207 376, 128 128.
        {226, 230, 207, (576.0f + 376.0f) / 1408.0f},
        {128, 230, 128, 128.0f / 704.0f},
        {0, 0, 0, 0.0f},  // no peak at all
    };
    for (const auto& row : kRows) {
        TimedClick click;
        click.Fields.PkMinus1 = row.Before;
        click.Fields.Pmax = row.Peak;
        click.Fields.PkPlus1 = row.After;
        EXPECT_NEAR(ChainClickOf(click).Ring, row.Ring, 1e-6)
            << int{row.Before} << " " << int{row.Peak} << " " << int{row.After};
    }
}

TEST(TrainRules, BuzzClicksAndMinutesOfAnNbhfTrain) {
    ChainSpec s;
    s.Clicks = 20;
    std::vector<ChainClick> clicks = Chain(s);
    // Twenty clicks at 2 ms after the train, the first 30 ms after its last click.
    for (int k = 0; k < 20; ++k) {
        ChainClick c = clicks.back();
        c.TimeUs += k == 0 ? 30'000 : 2'000;
        clicks.push_back(c);
    }
    const std::optional<Train> t = DescribeTrain(clicks, {});
    ASSERT_TRUE(t);
    EXPECT_EQ(t->Class, TrainClass::Nbhf);
    EXPECT_EQ(t->BuzzClicks, 19);
    EXPECT_NEAR(t->IciMinMs, 2, 1e-9);
    EXPECT_NEAR(t->IciModalMs, 2, 0.5);  // the buzz's intervals are the most common
    EXPECT_EQ(t->ClickMinutes.size(), 1u);
    EXPECT_EQ(t->BuzzMinutes, t->ClickMinutes);
    // A dolphin's clicks at short intervals are no buzz.
    for (ChainClick& c : clicks) c.Khz = 60;
    EXPECT_EQ(DescribeTrain(clicks, {})->BuzzClicks, 0);
    // A missed click's interval counts halved.
    std::vector<ChainClick> missed = Chain(s);
    for (size_t i = 10; i < missed.size(); ++i) missed[i].TimeUs += 60'000;
    missed[10].Gap = 2;
    EXPECT_LT(DescribeTrain(missed, {})->IciMaxMs, 70);
}

TEST(TrainRules, CompanyAroundATrain) {
    auto train = [](TrainClass c, TrainQuality q, double iciMs, double ring = 0.7,
                    double pmax = 200, int clicks = 30, double khz = 130) {
        Train t;
        t.Class = c;
        t.Quality = q;
        t.IciModalMs = iciMs;
        t.RingMedian = ring;
        t.PmaxMedian = pmax;
        t.Clicks = clicks;
        t.KhzMedian = khz;
        return t;
    };
    using C = TrainClass;
    using Q = TrainQuality;
    const Train porpoise = train(C::Nbhf, Q::High, 60);
    const Train sounder = train(C::Sonar, Q::High, 100);
    const Train dolphin = train(C::Dolphin, Q::Moderate, 80);
    const Train faintDolphin = train(C::Dolphin, Q::Low, 80);
    const Train otherPorpoise = train(C::Nbhf, Q::Moderate, 45);
    const Train shortPorpoise = train(C::Nbhf, Q::Moderate, 60, 0.85, 200, 6);
    const Train otherSounder = train(C::Sonar, Q::High, 100, 0.7, 200, 30, 200);
    const struct {
        const char* What;
        Train T;
        std::vector<const Train*> Around;
        TrainClass Class;
        std::optional<TrainQuality> Quality = {};
    } kRows[] = {
        {"alone", porpoise, {}, C::Nbhf},
        {"beside a sounder of another interval", porpoise, {&sounder}, C::Nbhf},
        {"echoes of the pings", train(C::Nbhf, Q::Moderate, 101.5), {&sounder}, C::Sonar},
        {"echoes of every other ping", train(C::Nbhf, Q::Moderate, 198), {&sounder}, C::Sonar},
        {"fragments of every fourth ping", train(C::Nbhf, Q::Moderate, 403), {&sounder}, C::Sonar},
        {"between multiples", train(C::Nbhf, Q::Moderate, 250), {&sounder}, C::Nbhf},
        {"just off the sounder's interval", train(C::Nbhf, Q::Moderate, 103), {&sounder}, C::Nbhf},
        {"dolphin clicks at the pings' interval",
         train(C::Dolphin, Q::Low, 99),
         {&sounder},
         C::Sonar},
        {"a dolphin around", porpoise, {&dolphin}, C::Nbhf},
        {"more dolphins than porpoises", porpoise, {&dolphin, &dolphin}, C::Dolphin},
        {"as many porpoises", porpoise, {&dolphin, &dolphin, &otherPorpoise}, C::Nbhf},
        {"faint dolphin trains count not", porpoise, {&faintDolphin, &faintDolphin}, C::Nbhf},
        {"a low NBHF train among one dolphin", train(C::Nbhf, Q::Low, 60), {&dolphin}, C::Dolphin},
        // Its own long clicks outweigh the company, unless clipping made every peak alike.
        {"ringing clicks among dolphins",
         train(C::Nbhf, Q::High, 60, 0.85),
         {&dolphin, &dolphin},
         C::Nbhf},
        {"clipped ringing clicks among dolphins",
         train(C::Nbhf, Q::High, 60, 0.85, 250),
         {&dolphin, &dolphin},
         C::Dolphin},
        {"ringing echoes of the pings",
         train(C::Nbhf, Q::Moderate, 101.5, 0.85),
         {&sounder},
         C::Sonar},
        // A short train beside a sounder in its band may be its pings cut apart.
        {"a short train alone", shortPorpoise, {}, C::Nbhf, Q::Moderate},
        {"a short train beside a dolphin", shortPorpoise, {&dolphin}, C::Nbhf, Q::Moderate},
        {"a short train beside a sounder in its band", shortPorpoise, {&sounder}, C::Nbhf, Q::Low},
        {"a short train beside a sounder of another band",
         shortPorpoise,
         {&otherSounder},
         C::Nbhf,
         Q::Moderate},
        {"a long train beside a sounder in its band", porpoise, {&sounder}, C::Nbhf, Q::High},
    };
    for (const auto& row : kRows) {
        Train t = row.T;
        t.BuzzClicks = 3;
        t.BuzzMinutes = {7};
        WeighCompany(t, row.Around, {});
        EXPECT_EQ(t.Class, row.Class) << row.What;
        if (row.Quality) {
            EXPECT_EQ(t.Quality, *row.Quality) << row.What;
        }
        EXPECT_EQ(t.BuzzClicks, t.Class == C::Nbhf ? 3 : 0) << row.What;
        EXPECT_EQ(t.BuzzMinutes.size(), t.Class == C::Nbhf ? 1u : 0u) << row.What;
    }
}

}  // namespace
}  // namespace wtk::presence
