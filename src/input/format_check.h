// The format check of a selection: which listed files the converter would read wrongly (their
// header says they are no 16-bit PCM mono recordings), and which give another sample rate in
// their header than the one the batch is converted at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "input/wav_file_rec.h"
#include "input/wav_header.h"

namespace wtk {

struct FormatFindings {
    std::vector<const WavFileRec*> Unfit;       // in table order
    std::vector<const WavFileRec*> OtherRate;   // fit files whose header rate is not the batch's
    std::vector<const WavFileRec*> SecondData;  // files with a data chunk after the one read
    int32_t FitFiles = 0;
    uint32_t CommonRate = 0;  // the rate of every fit file's header where they agree, else 0
};

// The findings of the listed records against the batch's rate in samples per second. Records
// of files that were not opened, and files too short or damaged to tell, count in neither list.
FormatFindings CheckFormats(const WavFileRecTable& recs, int32_t SamplesPerSec);

// Messages name this many files of a list, then "... and N more".
inline constexpr size_t kFilesNamed = 20;

// "PATH: not 16-bit PCM mono: IEEE float, 32 bits, 1 channel, 576000 samples/s"
std::string UnfitLine(const WavFileRec& rec);
// "PATH: its header says 384000 samples/s"
std::string OtherRateLine(const WavFileRec& rec);
// "PATH: a second data chunk follows the samples and is not read"
std::string SecondDataLine(const WavFileRec& rec);
// The lines of the first kFilesNamed records, then "... and N more" for the rest.
std::vector<std::string> NamedLines(const std::vector<const WavFileRec*>& recs,
                                    std::string (*line)(const WavFileRec&));
// "1 file is", "3 files are"
std::string FilesAre(size_t n);

// The rate in k samples/s that the fit headers give, or why there is none: no fit header,
// headers that disagree, or a rate that is no whole number of k samples/s in 1 ... 2000.
std::variant<int32_t, std::string> RateFromHeaders(const std::vector<WavHeader>& headers,
                                                   const std::vector<std::string>& names);

}  // namespace wtk
