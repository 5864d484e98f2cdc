// Presence per minute, hour or day at one location, with the recording effort behind it: the
// minutes recorded, detection-positive minutes of NBHF and dolphin trains, minutes with sonar
// and with buzzes, NBHF trains and encounters. A period in which nothing was recorded has no
// counts (they are unknown, not 0).
//
// Periods follow the clock of a fixed offset from UTC (hours and days begin at its hh:00 and
// 00:00). A minute is detection-positive for a class when it holds a click of a train of that
// class of at least the minimum quality; buzz minutes hold a buzz click of such an NBHF train.
// Trains and encounters count in the period in which they begin.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "presence/trains.h"

namespace wtk::presence {

enum class Period : uint8_t { Minute, Hour, Day };
std::string_view PeriodName(Period p);  // "minute", "hour", "day"
std::optional<Period> ParsePeriod(std::string_view text);

// "+hh:mm" or "-hh:mm" (also "Z", "+hh", "hh:mm"), at most 14:00 either way: minutes east of
// UTC. Nothing for any other text.
std::optional<int32_t> ParseUtcOffset(std::string_view text);
// "Z" for 0, else "+hh:mm" / "-hh:mm".
std::string UtcOffsetText(int32_t minutes);

struct PresenceOptions {
    Period Per = Period::Hour;
    int32_t UtcOffsetMinutes = 0;
    TrainQuality MinQuality = TrainQuality::Moderate;
};

struct PresenceRow {
    int64_t PeriodStartUs = 0;  // UTC, microseconds since 1899-12-30 00:00
    int32_t UtcOffsetMinutes = 0;
    std::string Location;
    int32_t RecordedMinutes = 0;  // minutes holding any recording
    int64_t RecordedUs = 0;       // the recording in them
    // Empty when nothing was recorded in the period.
    std::optional<int32_t> NbhfDpm, DolphinDpm, SonarMinutes, BuzzMinutes, NbhfTrains, Encounters;
};

// Gathers the effort and the trains of one location and gives its rows: every period from the
// first to the last that holds recording or a train, gaps included.
class PresenceCounter {
public:
    PresenceCounter(std::string location, const PresenceOptions& options);

    // Recording from fromUs up to toUs (UTC microseconds); overlapping spans count once.
    void AddEffort(int64_t fromUs, int64_t toUs);
    // A train whose Encounter has been assigned (EncounterGrouper), in order of the trains'
    // start: an encounter counts where its first train begins. Trains below the minimum
    // quality count nowhere.
    void AddTrain(const Train& train);

    // Throws std::length_error when the periods would span more than kMaxYears.
    std::vector<PresenceRow> Rows() const;

    static constexpr int64_t kMaxYears = 40;

private:
    struct MinuteState {
        int32_t RecordedUs = 0;  // at most a minute
        uint16_t TrainsStarted = 0;
        uint8_t Flags = 0;
        uint8_t EncountersStarted = 0;
    };
    std::string location_;
    PresenceOptions options_;
    std::vector<std::pair<int64_t, int64_t>> effort_;
    // What the trains put in each minute, by minute number; sorted when the rows are made.
    std::vector<std::pair<int64_t, MinuteState>> marks_;
    int64_t lastEncounter_ = 0;
};

}  // namespace wtk::presence
