// Sunrise and sunset from the standard approximation of the sun's position (fractional year,
// equation of time and declination as a short Fourier series, the sun's upper limb at the
// horizon with refraction: a zenith of 90.833 degrees). Good to a minute or two away from the
// polar circles, which is all a night band on a chart of hours needs.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace wtk::presence {

struct SunDay {
    enum class Kind : uint8_t {
        RisesAndSets,
        AlwaysUp,    // midnight sun
        AlwaysDown,  // polar night
    };
    Kind Sky = Kind::RisesAndSets;
    // With RisesAndSets: minutes after 00:00 UTC of the date; the east or west of the date line
    // puts them before 0 or after 1440.
    double SunriseMinutes = 0;
    double SunsetMinutes = 0;
};

// The sun at latitude (degrees north, -90 ... 90) and longitude (degrees east, -180 ... 180)
// on the date of dayNumber (days since 1899-12-30, UTC).
SunDay SunOn(double latitude, double longitude, int64_t dayNumber);

// The night (sun below the horizon) between fromUs and toUs (microseconds since 1899-12-30
// 00:00 UTC) as spans in increasing order, each within [fromUs, toUs).
std::vector<std::pair<int64_t, int64_t>> NightSpans(double latitude, double longitude,
                                                    int64_t fromUs, int64_t toUs);

}  // namespace wtk::presence
