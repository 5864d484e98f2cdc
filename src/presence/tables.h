// The CSV tables of trains and presence: one row per train, and one per period and location.
// CSV as RFC 4180 writes it, CR LF line ends (the caller adds them), numbers independent of the
// locale. Times are ISO 8601 to the microsecond: trains in UTC ("Z"), periods with the offset
// their clock follows.
#pragma once

#include <string>
#include <string_view>

#include "presence/presence.h"
#include "presence/trains.h"

namespace wtk::presence {

inline constexpr std::string_view kTrainsHeading =
    "train,location,recording,start,end,clicks,ici_ms_modal,ici_ms_min,ici_ms_max,khz_median,"
    "pmax_median,class,quality,buzz_clicks,encounter";

// recording: the path of the train's recording ("" when not known).
std::string TrainRow(const Train& train, std::string_view location, std::string_view recording);

inline constexpr std::string_view kPresenceHeading =
    "period_start,location,recorded_minutes,recorded_s,nbhf_dpm,dolphin_dpm,sonar_minutes,"
    "buzz_minutes,nbhf_trains,encounters";

std::string PresenceRowText(const PresenceRow& row);

// ISO 8601 of a UTC time to the microsecond in the clock offsetMinutes east of UTC:
// "2024-06-11T02:00:00.000000+02:00", "...Z" for 0.
std::string OffsetTimeText(int64_t utcMicroseconds, int32_t offsetMinutes);

}  // namespace wtk::presence
