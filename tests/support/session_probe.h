// What a recording would do to the engine, done directly: tests that need a minute with a
// given click count, or the latch a conversion leaves for the next listing, reach past the
// session's commands here.
#pragma once

#include "session/session.h"

namespace wtk {

struct SessionProbe {
    static ClickDetector& Detector(Session& s) { return s.Detector; }
    // The last conversion was a scrapbook: the next listing reads no dates.
    static bool Scrapbook(const Session& s) { return s.Scrapbook; }
};

}  // namespace wtk
