#include "presence/presence.h"

namespace wtk::presence {

PresenceCounter::PresenceCounter(std::string location, const PresenceOptions& options)
    : location_(std::move(location)), options_(options) {}
void PresenceCounter::AddEffort(int64_t, int64_t) {}
void PresenceCounter::AddTrain(const Train&) {}
std::vector<PresenceRow> PresenceCounter::Rows() const {
    return {};
}

}  // namespace wtk::presence
