// Locations of a selection: the identity names of the listed files, each of which forms one
// run of a sorted table, and the table cut down to one location or into all of them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "input/wav_file_rec.h"

namespace wtk {

struct LocationGroup {
    std::string Name;      // the identity name its files share
    WavFileRecTable Recs;  // its files in table order
};

// One group per run of equal identity names (compared as the batch driver compares them),
// holding only listed files: a blank record, left by a file that could not be opened, belongs
// to no location.
std::vector<LocationGroup> SplitIntoLocations(const WavFileRecTable& recs);

// Keeps the listed files whose identity name is `name`, or shows as `name` in text outputs
// (a name holding control characters or bytes that are not UTF-8), in table order.
void KeepLocation(WavFileRecTable& recs, std::string_view name);

}  // namespace wtk
