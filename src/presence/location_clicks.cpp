#include "presence/location_clicks.h"

namespace wtk::presence {

InputError::InputError(std::string path, std::string place, const std::string& what)
    : std::runtime_error(path + ": " + (place.empty() ? "" : place + ": ") + what),
      path_(std::move(path)),
      place_(std::move(place)) {}

struct LocationReader::Impl {
    LocationFiles Files;
    std::vector<RecordingSpan> Recordings;
    std::vector<std::pair<int64_t, int64_t>> Effort;
    std::vector<std::string> Warnings;
};

LocationReader::LocationReader(LocationFiles files) : impl_(std::make_unique<Impl>()) {
    impl_->Files = std::move(files);
}
LocationReader::~LocationReader() = default;
const std::string& LocationReader::Location() const {
    return impl_->Files.Location;
}
const std::vector<RecordingSpan>& LocationReader::Recordings() const {
    return impl_->Recordings;
}
const std::vector<std::pair<int64_t, int64_t>>& LocationReader::Effort() const {
    return impl_->Effort;
}
const std::vector<std::string>& LocationReader::Warnings() const {
    return impl_->Warnings;
}
bool LocationReader::Next(TimedClick&) {
    return false;
}
void LocationReader::Rewind() {}

std::string LocationOfTK1Name(const std::string& path) {
    return path;
}
std::vector<LocationFiles> GatherLocations(const std::vector<std::string>&) {
    return {};
}

void TrainIndex::Add(const Train&) {}
const TrainLabel* TrainIndex::Find(ChainKey) const {
    return nullptr;
}

void FindTrains(LocationReader&, const TrainOptions&, TrainQuality,
                const std::function<void(const Train&)>&) {}
void LabelClicks(LocationReader&, const TrainOptions&, const TrainIndex&,
                 const std::function<void(const TimedClick&, const TrainLabel*)>&) {}

}  // namespace wtk::presence
