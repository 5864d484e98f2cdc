#include "output/click_sources.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "base/calendar.h"

namespace wtk::tk1 {
namespace {

constexpr int64_t kMinute0 = 65454240;  // 2024-06-11 08:00
constexpr int64_t kUs0 = kMinute0 * kMicrosecondsPerMinute;

int64_t Us(double seconds) {
    return std::llround(seconds * 1e6);
}

// A click at seconds after 08:00, as the TK1 file gives it.
ClickTime At(double seconds) {
    const FloorDivision d = FloorDivide(Us(seconds), kMicrosecondsPerMinute);
    return {kMinute0 + d.Quotient, static_cast<int32_t>(d.Remainder / kMicrosecondsPerTimeUnit)};
}

struct Recording {
    double placed, seconds;
    int32_t rate = 576000;
};

// The recordings' letters of the clicks ('-': none), and their offsets in seconds.
std::string Letters(const std::vector<ClickSource>& sources) {
    std::string s;
    for (const ClickSource& c : sources) {
        s += c.Recording == ClickSource::kNone ? '-' : static_cast<char>('A' + c.Recording);
    }
    return s;
}

TEST(ClickSources, ClicksGoToTheRecordingWhosePlacedSpanHoldsThem) {
    struct Case {
        const char* what;
        std::vector<Recording> recordings;
        std::vector<double> clicks;
        std::string letters;
        std::vector<double> offsets;
    };
    const std::vector<Case> cases = {
        {"files that follow each other within a minute",
         {{0, 30}, {30, 30}},
         {5, 29.9, 30, 30.1, 45},
         "AABBB",
         {5, 29.9, 0, 0.1, 15}},
        {"the second file from the minute's first tick while the first still runs",
         {{0, 10}, {0, 20}},
         {2, 8, 1, 9, 15},
         "AABBB",
         {2, 8, 1, 9, 15}},
        {"the second file's first click after the first file's end",
         {{0, 10}, {0, 20}},
         {2, 8, 12},
         "AAB",
         {2, 8, 12}},
        {"a file placed at its start second while the first still runs",
         {{0, 45}, {30, 20}},
         {10, 40, 32, 44, 49},
         "AABBB",
         {10, 40, 2, 14, 19}},
        // At 1 k samples/s a block's last 125 ms open the next minute and the next block
        // starts that minute's times again.
        {"a recording's steps back where its blocks open minutes",
         {{0, 120, 1000}, {120, 10, 1000}},
         {59.9, 60.1, 60.02, 61, 120.1, 121},
         "AAAAAB",
         {59.9, 60.1, 60.02, 61, 120.1, 1}},
        {"a recording's steps back where its blocks open minutes, while the next one runs",
         {{0, 120, 1000}, {30, 60, 1000}},
         {59.9, 60.1, 60.02, 61, 35},
         "AAAAB",
         {59.9, 60.1, 60.02, 61, 5}},
        {"the last block's ticks in the next minute, then the next file from its first tick",
         {{0, 60, 1000}, {60, 30, 1000}},
         {59, 60.1, 60.05, 70},
         "AABB",
         {59, 60.1, 0.05, 10}},
        {"a step back to the very tick the next file is placed at",
         {{0, 45}, {30, 20}},
         {10, 40, 30, 44},
         "AABB",
         {10, 40, 0, 14}},
        // Only the ticks right after a recording's end may open the next minute; a file that
        // ended half a minute before gives up the next minute's first ticks.
        {"a file ended mid-minute, the next file's click in the next minute's first ticks",
         {{0, 30, 1000}, {60, 30, 1000}},
         {10, 60.05},
         "AB",
         {10, 0.05}},
        {"the last block's ticks end where the allowance ends",
         {{0, 60.01, 1000}, {60, 30, 1000}},
         {59, 60.125005},
         "AB",
         {59, 0.125005}},
        {"a click exactly the allowance after a recording's end, in the next minute's first ticks",
         {{0, 59.999, 1000}, {60, 30, 1000}},
         {59, 60.124005},
         "AB",
         {59, 0.124005}},
        {"a recording without clicks is passed over",
         {{0, 20}, {20, 20}, {40, 20}},
         {5, 45},
         "AC",
         {5, 5}},
        {"a step back that the next recording's span does not hold",
         {{0, 60}, {60, 60}},
         {30, 20, 70},
         "AAB",
         {30, 20, 10}},
        {"lengths not known: a recording ends where the next is placed",
         {{0, 0, 0}, {30, 0, 0}},
         {10, 35, 300},
         "ABB",
         {10, 5, 270}},
        {"no recordings", {}, {10}, "-", {0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<RecordingRow> rows;
        for (const Recording& r : c.recordings) {
            RecordingRow row;
            row.PlacedUs = kUs0 + Us(r.placed);
            row.RateHz = r.rate;
            row.Samples = std::llround(r.seconds * r.rate);
            rows.push_back(row);
        }
        ClickSources sources(rows);
        std::vector<ClickTime> clicks;
        for (const double t : c.clicks) clicks.push_back(At(t));
        const std::vector<ClickSource> found = AttributeClicks(sources, clicks);
        ASSERT_EQ(found.size(), clicks.size());
        EXPECT_EQ(Letters(found), c.letters);
        for (size_t i = 0; i < found.size(); ++i) {
            EXPECT_EQ(found[i].OffsetUs, Us(c.offsets[i])) << i;
            // Without starts, the exact time is the TK1 file's.
            EXPECT_EQ(found[i].TimeUs, kUs0 + Us(c.clicks[i])) << i;
            EXPECT_FALSE(found[i].FromStart);
        }
    }
}

TEST(ClickSources, TheExactTimeIsTheRecordingsStartPlusTheOffset) {
    // The second file placed at the minute's first tick, its start 10.25 s later.
    std::vector<RecordingRow> rows(2);
    rows[0].PlacedUs = kUs0;
    rows[0].RateHz = 576000;
    rows[0].Samples = 10 * 576000;
    rows[0].StartUs = kUs0 + 123;
    rows[1] = rows[0];
    rows[1].Samples = 20 * 576000;
    rows[1].StartUs = kUs0 + Us(10.25);
    ClickSources sources(rows);
    const std::vector<ClickTime> clicks = {At(2), At(1)};
    const std::vector<ClickSource> found = AttributeClicks(sources, clicks);
    EXPECT_EQ(Letters(found), "AB");
    EXPECT_EQ(found[0].TimeUs, kUs0 + 123 + Us(2));
    EXPECT_EQ(found[1].TimeUs, kUs0 + Us(11.25));
    EXPECT_TRUE(found[0].FromStart && found[1].FromStart);
}

TEST(ClickSources, LinkageMinutesAloneGiveEachFileTheMinutesFromItsOwn) {
    // A file given the minute after its predecessor's begins in that minute; clicks before the
    // first file's minute have none. Offsets count from the file's minute.
    std::vector<LinkageLine> lines = {{static_cast<int32_t>(kMinute0 + 1), "A"},
                                      {static_cast<int32_t>(kMinute0 + 3), "B"}};
    ClickSources sources(lines);
    const std::vector<ClickTime> clicks = {At(10), At(65), At(130), At(190.5)};
    const std::vector<ClickSource> found = AttributeClicks(sources, clicks);
    EXPECT_EQ(Letters(found), "-AAB");
    EXPECT_EQ(found[0].OffsetUs, 0);
    EXPECT_EQ(found[1].OffsetUs, Us(5));
    EXPECT_EQ(found[2].OffsetUs, Us(70));
    EXPECT_EQ(found[3].OffsetUs, Us(10.5));
    EXPECT_EQ(found[3].TimeUs, kUs0 + Us(190.5));
}

}  // namespace
}  // namespace wtk::tk1
