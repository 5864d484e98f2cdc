#include "input/location_groups.h"

#include <algorithm>

#include "base/utf8.h"

namespace wtk {

std::vector<LocationGroup> SplitIntoLocations(const WavFileRecTable& recs) {
    std::vector<LocationGroup> groups;
    for (const WavFileRec& rec : recs) {
        if (rec.NameWithPath.empty()) continue;
        if (groups.empty() || CompareUtf16(rec.IdentityName, groups.back().Name) != 0) {
            groups.push_back({rec.IdentityName, {}});
        }
        groups.back().Recs.push_back(rec);
    }
    return groups;
}

void KeepLocation(WavFileRecTable& recs, std::string_view name) {
    std::erase_if(recs, [&](const WavFileRec& rec) {
        return rec.NameWithPath.empty() || (CompareUtf16(rec.IdentityName, name) != 0 &&
                                            PrintableName(rec.IdentityName) != name);
    });
}

}  // namespace wtk
