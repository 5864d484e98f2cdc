// The clicks of a location's TK1 files with their exact times, read as a stream.
//
// A location is the name of its TK1 files less the date at their end ("SiteREEF 2024 06 11.TK1"
// is SiteREEF); its files are read in the order of their start minutes. Each click is timed by
// the recordings table beside its TK1 file: the start of the recording it came from plus its
// offset in that recording, so the times are right whether or not the recordings were placed
// at their exact start. Without a recordings table the TK1 minute clock times the clicks (to
// the start of their minute, not the recording's second) and every minute of the file counts
// as recorded; the reader then warns once.
//
// Damaged input is refused before any click is given: a TK1 file that does not have the shape
// of a finished one, a recordings table or linkage file that does not read; the error names the
// file and the place (byte offset or line).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "presence/timed_click.h"
#include "presence/trains.h"

namespace wtk::presence {

// Damaged or unreadable input: what() is "PATH: PLACE: WHAT" (or "PATH: WHAT" without a place).
class InputError : public std::runtime_error {
public:
    InputError(std::string path, std::string place, const std::string& what);
    const std::string& Path() const { return path_; }
    const std::string& Place() const { return place_; }

private:
    std::string path_;
    std::string place_;
};

struct LocationFiles {
    std::string Location;
    std::vector<std::string> Tk1Paths;  // in order of their start minutes
};

// The location of a TK1 file name: the name less its folder, its extension and the date string
// " yyyy mm dd" before it (the name less its extension where it has no date string).
std::string LocationOfTK1Name(const std::string& path);

// The TK1 files of paths (TK1 files, or folders searched with their sub-folders for *.TK1 in any
// case), grouped by location in the order of the locations' names. Throws InputError for a path
// that cannot be read and for a folder without TK1 files.
std::vector<LocationFiles> GatherLocations(const std::vector<std::string>& paths);

// A recording behind a location's clicks.
struct RecordingSpan {
    std::string Path;
    int64_t StartUs = 0;  // its first sample, microseconds since 1899-12-30 00:00
    int64_t EndUs = 0;    // after its last sample
    bool Zoned = false;   // the start is UTC
};

class LocationReader {
public:
    // Reads the side files of every TK1 file and checks the TK1 files' shape. Throws
    // InputError.
    explicit LocationReader(LocationFiles files);
    ~LocationReader();
    LocationReader(const LocationReader&) = delete;
    LocationReader& operator=(const LocationReader&) = delete;

    const std::string& Location() const;
    const std::vector<RecordingSpan>& Recordings() const;
    // The spans of recording (UTC microseconds), as PresenceCounter::AddEffort takes them.
    const std::vector<std::pair<int64_t, int64_t>>& Effort() const;
    // Warnings for the user (one each), e.g. that times are minute-exact only.
    const std::vector<std::string>& Warnings() const;

    // The next click in file order (time order within each recording); false after the last.
    // Throws InputError when a file cannot be read (any more).
    bool Next(TimedClick& click);
    // Starts again from the first click.
    void Rewind();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// ---- one location analysed ----

// What a train is, for the clicks that were in it.
struct TrainLabel {
    int64_t Number = 0;
    TrainClass Class = TrainClass::Unclassed;
    TrainQuality Quality = TrainQuality::Low;
    int64_t Encounter = 0;
};

// The trains of a first pass by their chain keys.
class TrainIndex {
public:
    void Add(const Train& train);
    const TrainLabel* Find(ChainKey chain) const;  // nullptr: the chain became no train

private:
    std::vector<std::pair<ChainKey, TrainLabel>> byChain_;  // in increasing key order
};

// Every train of the location, with its encounter (NBHF trains of at least
// encounterQuality), in order of their start.
void FindTrains(LocationReader& reader, const TrainOptions& options, TrainQuality encounterQuality,
                const std::function<void(const Train&)>& onTrain);

// Every click of the location again, one at a time in file order, each with the train it is
// in, given the trains that FindTrains found with the same options. Holds the clicks of the
// last few seconds whose trains are not settled yet.
class ClickLabeller {
public:
    ClickLabeller(LocationReader& reader, const TrainOptions& options, const TrainIndex& trains);
    ~ClickLabeller();
    ClickLabeller(const ClickLabeller&) = delete;
    ClickLabeller& operator=(const ClickLabeller&) = delete;

    // The next click and its train (nullptr: in none); false after the last.
    bool Next(TimedClick& click, const TrainLabel*& label);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Every click again, each with the train it is in (nullptr: in none), given the trains that
// FindTrains found with the same options.
void LabelClicks(LocationReader& reader, const TrainOptions& options, const TrainIndex& trains,
                 const std::function<void(const TimedClick&, const TrainLabel*)>& onClick);

}  // namespace wtk::presence
