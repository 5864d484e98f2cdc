#include "presence/tables.h"

namespace wtk::presence {

std::string TrainRow(const Train&, std::string_view, std::string_view) {
    return {};
}
std::string PresenceRowText(const PresenceRow&) {
    return {};
}
std::string OffsetTimeText(int64_t, int32_t) {
    return {};
}

}  // namespace wtk::presence
