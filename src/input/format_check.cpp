#include "input/format_check.h"

#include <algorithm>
#include <utility>

#include "base/sample_rate.h"

namespace wtk {

const char* const kNoRateHeader = "no file has a 16-bit PCM mono header to take the rate from";

FormatFindings CheckFormats(const WavFileRecTable& recs, int32_t SamplesPerSec,
                            const ReadOptions& options) {
    FormatFindings f;
    bool agree = true;
    for (const WavFileRec& rec : recs) {
        if (rec.NameWithPath.empty()) continue;  // not opened when it was listed
        if (rec.Raw.Number > 1) continue;        // its file counts once
        if (rec.Header.SecondDataChunk) f.SecondData.push_back(&rec);
        // A channel chosen must be one that every file has, or the files without it are
        // refused.
        if (const std::optional<SampleFormat> format = SampleFormatOf(rec.Header)) {
            f.FewestChannels = f.FewestChannels == 0 ? format->Channels
                                                     : std::min(f.FewestChannels, format->Channels);
        }
        switch (ClassifyRecording(rec.Header, options)) {
            case FormatFit::Unfit:
                f.Unfit.push_back(&rec);
                break;
            case FormatFit::NeedsChoice: {
                f.NeedsChoice.push_back(&rec);
                const FormatNeeds needs = NeedsOf(*SampleFormatOf(rec.Header));
                f.NeedSixteenBit = f.NeedSixteenBit || (needs.SixteenBit && !options.ToSixteenBit);
                if (needs.Channel && options.Channel == 0) f.NeedChannel = true;
                break;
            }
            case FormatFit::FewerChannels:
                f.FewerChannels.push_back(&rec);
                break;
            case FormatFit::Fit:
                if (f.FitFiles++ == 0) {
                    f.CommonRate = rec.Header.SampleRate;
                } else if (rec.Header.SampleRate != f.CommonRate) {
                    agree = false;
                }
                if (static_cast<int64_t>(rec.Header.SampleRate) != SamplesPerSec) {
                    f.OtherRate.push_back(&rec);
                }
                break;
            case FormatFit::Unknown:
                break;
        }
    }
    if (!agree) f.CommonRate = 0;
    return f;
}

std::string UnfitLine(const WavFileRec& rec) {
    return rec.Path() + ": not 16-bit PCM mono: " + DescribeWavHeader(rec.Header);
}

std::string FormatLine(const WavFileRec& rec) {
    return rec.Path() + ": " + DescribeWavHeader(rec.Header);
}

std::string OtherRateLine(const WavFileRec& rec) {
    return rec.Path() + ": its header says " + std::to_string(rec.Header.SampleRate) + " samples/s";
}

std::string SecondDataLine(const WavFileRec& rec) {
    return rec.Path() + ": a second data chunk follows the samples and is not read";
}

std::vector<std::string> NamedLines(std::vector<std::string> lines) {
    if (lines.size() > kFilesNamed) {
        const size_t more = lines.size() - kFilesNamed;
        lines.resize(kFilesNamed);
        lines.push_back("... and " + std::to_string(more) + " more");
    }
    return lines;
}

std::vector<std::string> NamedLines(const std::vector<const WavFileRec*>& recs,
                                    std::string (*line)(const WavFileRec&)) {
    std::vector<std::string> lines;
    for (const WavFileRec* rec : recs) lines.push_back(line(*rec));
    return NamedLines(std::move(lines));
}

std::string FilesAre(size_t n) {
    return std::to_string(n) + (n == 1 ? " file is" : " files are");
}

std::string FilesHave(size_t n) {
    return std::to_string(n) + (n == 1 ? " file has" : " files have");
}

std::variant<int32_t, std::string> RateFromHeaders(const std::vector<WavHeader>& headers,
                                                   const std::vector<std::string>& names,
                                                   const ReadOptions& options) {
    size_t first = headers.size();
    for (size_t i = 0; i < headers.size(); ++i) {
        if (ClassifyRecording(headers[i], options) != FormatFit::Fit) continue;
        if (first == headers.size()) {
            first = i;
        } else if (headers[i].SampleRate != headers[first].SampleRate) {
            return "the headers give different rates: " +
                   std::to_string(headers[first].SampleRate) + " samples/s in " + names[first] +
                   ", " + std::to_string(headers[i].SampleRate) + " samples/s in " + names[i];
        }
    }
    if (first == headers.size()) return std::string(kNoRateHeader);
    const uint32_t rate = headers[first].SampleRate;
    if (rate % 1000 != 0 || rate / 1000 < static_cast<uint32_t>(SampleRate::kMinKsps) ||
        rate / 1000 > static_cast<uint32_t>(SampleRate::kMaxKsps)) {
        return "the header rate " + std::to_string(rate) + " samples/s of " + names[first] +
               " is no whole number of k samples/s in " + std::to_string(SampleRate::kMinKsps) +
               " ... " + std::to_string(SampleRate::kMaxKsps);
    }
    return static_cast<int32_t>(rate / 1000);
}

}  // namespace wtk
