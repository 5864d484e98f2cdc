// The format check of a selection: which listed files the converter would read wrongly (their
// header says they hold no samples it can read), which it can read only with a choice not made
// (to 16 bits, a channel of several) or not with the channel chosen, and which give another
// sample rate in their header than the one the batch is converted at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "input/recording_layout.h"
#include "input/wav_file_rec.h"
#include "input/wav_header.h"

namespace wtk {

struct FormatFindings {
    std::vector<const WavFileRec*> Unfit;          // in table order
    std::vector<const WavFileRec*> NeedsChoice;    // need to 16 bits or a channel, not chosen
    std::vector<const WavFileRec*> FewerChannels;  // fewer channels than the one chosen
    std::vector<const WavFileRec*> OtherRate;      // fit files whose header rate is not the batch's
    std::vector<const WavFileRec*> SecondData;     // files with a data chunk after the one read
    int32_t FitFiles = 0;
    uint32_t CommonRate = 0;  // the rate of every fit file's header where they agree, else 0
    // What the files of NeedsChoice need, and the fewest channels of any file whose samples
    // the converter can read (the channels every file has).
    bool NeedSixteenBit = false;
    bool NeedChannel = false;
    uint16_t FewestChannels = 0;
};

// The findings of the listed records against the batch's rate in samples per second and the
// choices made. Records of files that were not opened, files too short or damaged to tell, and
// the raw files of an XWAV file after its first count in no list.
FormatFindings CheckFormats(const WavFileRecTable& recs, int32_t SamplesPerSec,
                            const ReadOptions& options = {});

// Messages name this many files of a list, then "... and N more".
inline constexpr size_t kFilesNamed = 20;

// "PATH: not 16-bit PCM mono: IEEE float, 32 bits, 1 channel, 576000 samples/s"
std::string UnfitLine(const WavFileRec& rec);
// "PATH: PCM, 24 bits, 2 channels, 576000 samples/s"
std::string FormatLine(const WavFileRec& rec);
// "PATH: its header says 384000 samples/s"
std::string OtherRateLine(const WavFileRec& rec);
// "PATH: a second data chunk follows the samples and is not read"
std::string SecondDataLine(const WavFileRec& rec);
// The first kFilesNamed of the lines, then "... and N more" for the rest.
std::vector<std::string> NamedLines(std::vector<std::string> lines);
// The lines of the records, named as above.
std::vector<std::string> NamedLines(const std::vector<const WavFileRec*>& recs,
                                    std::string (*line)(const WavFileRec&));
// "1 file is", "3 files are"
std::string FilesAre(size_t n);
// "1 file has", "3 files have"
std::string FilesHave(size_t n);

// The rate in k samples/s that the headers of the files fit with the choices give, or why there
// is none: no fit header, headers that disagree, or a rate that is no whole number of k
// samples/s in 1 ... 2000.
std::variant<int32_t, std::string> RateFromHeaders(const std::vector<WavHeader>& headers,
                                                   const std::vector<std::string>& names,
                                                   const ReadOptions& options = {});

// Why no header gives a rate: "no file has a 16-bit PCM mono header to take the rate from".
extern const char* const kNoRateHeader;

}  // namespace wtk
