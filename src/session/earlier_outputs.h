// What an earlier run left of one location's outputs, for a run that resumes it: kept where it
// is complete, converted again where it is not.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "input/wav_file_rec.h"
#include "output/tk1_codec.h"

namespace wtk {

enum class EarlierState {
    None,      // none of the location's files is there
    Complete,  // every file there, the TK1 file whole and sound and made with this run's
               // settings, its recordings table listing exactly the recordings as they are now,
               // each converted whole
    // Some of its files are there, no more than a stopped or killed run of these recordings
    // leaves behind: a table (where there is one) listing the first of its recordings as they
    // are now, the last one perhaps in part, and a TK1 file made with this run's settings.
    Unfinished,
    // Its files are of other recordings (some removed, renamed or changed in size, others
    // among them) or of other settings than this run's.
    Changed,
};

// The files a location's batch writes ("" where it writes none of that kind).
struct LocationOutputNames {
    std::string Tk1, Linkage, Table, Export;
};

struct EarlierOutputsQuery {
    LocationOutputNames Names;
    std::span<const WavFileRec> Recs;  // the location's recordings as listed now
    int32_t SamplesPerSec = 0;         // the rate they are converted at
    // The header this run's TK1 file gets at its creation.
    std::array<uint8_t, tk1::kHeaderBytes> CreationHeader{};
};

struct EarlierOutputs {
    EarlierState State = EarlierState::None;
    std::string Why;  // Unfinished, Changed: what is missing or differs
};

EarlierOutputs JudgeEarlierOutputs(const EarlierOutputsQuery& query);

}  // namespace wtk
