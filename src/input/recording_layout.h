// How a recording's samples become the converter's 16-bit samples of one channel: the choices
// that allow it (to 16 bits, one channel of several), how a header's samples are coded, what
// each recording needs, and which of its samples are read.
//
// A recording that needs no choice (16-bit PCM, one channel) is read as it always was: its bytes
// from max(100, the first sample byte) on. Other sample formats become the samples a 16-bit
// recorder of the same full scale would have written: integers keep their top 16 bits, floats
// are multiplied by 32768, rounded half to even and clipped, 8-bit unsigned samples are
// (x - 128) x 256 (input/sample_conversion.h). Such a recording starts at the sample that a
// 16-bit one-channel file laid out alike would start at: where its samples begin before byte
// 100, the samples that would fill the bytes up to 100 are left out (28 behind a 44-byte
// header). A FLAC stream is read as the WAV file it was made from, or one with a 44-byte header
// (input/flac_header.h), would be.
#pragma once

#include <cstdint>
#include <optional>

#include "input/harp_chunk.h"
#include "input/wav_header.h"

namespace wtk {

// What the user allows: samples turned into 16-bit ones, and the channel taken of several.
struct ReadOptions {
    bool ToSixteenBit = false;
    int32_t Channel = 0;  // from 1; 0: none chosen

    bool operator==(const ReadOptions&) const = default;
};

enum class SampleCoding : uint8_t { Int, UnsignedInt8, Float };

struct SampleFormat {
    SampleCoding Coding = SampleCoding::Int;
    uint8_t Bytes = 2;  // of one sample in a frame of the file (FLAC: what WAV would take)
    uint8_t Bits = 16;  // significant bits (FLAC: the decoder's values have this many)
    uint16_t Channels = 1;
};

// The samples of a header the converter can turn into 16-bit ones: integer PCM of 8, 16, 24 or
// 32 bits and float of 32 or 64 bits (plain or extensible WAV, frames of BlockAlign bytes), or a
// FLAC stream of 4 to 32 bits. None for anything else.
std::optional<SampleFormat> SampleFormatOf(const WavHeader& h);

// How a header's recording suits the converter with the choices made.
enum class FormatFit {
    Fit,            // read as 16-bit samples of one channel, converted where it needs it
    NeedsChoice,    // it needs to 16 bits or a channel, which is not chosen
    FewerChannels,  // it has fewer channels than the one chosen
    Unfit,          // its header says it holds no samples the converter can read
    Unknown,        // too short or damaged to tell
};
struct FormatNeeds {
    bool SixteenBit = false;  // its samples are no 16-bit integers
    bool Channel = false;     // it has several channels
};
FormatNeeds NeedsOf(const SampleFormat& f);
FormatFit ClassifyRecording(const WavHeader& h, const ReadOptions& o);

// Which samples of a recording (a file, or a raw file of it) are read, and how.
struct RecordingLayout {
    enum class Reading : uint8_t {
        Bytes16,  // the file's bytes as 16-bit samples of one channel, as they stand
        Frames,   // frames of a WAV file, one channel of each converted
        Flac,     // a FLAC stream decoded, one channel of each frame converted
    };
    Reading Read = Reading::Bytes16;
    SampleFormat Format;
    uint16_t Channel = 0;  // 0-based
    // Bytes16 and Frames: the bytes [Begin, End) of the file (Frames: whole frames); Flac: the
    // samples [Begin, End) of the stream, End -1 where the stream's length is unknown.
    int64_t Begin = kSkippedHeaderBytes;
    int64_t End = kSkippedHeaderBytes;
    // Flac: a whole stream is decoded to its last frame, even past the End its STREAMINFO
    // gives (a count that an encoder could not finish is no reason to leave sound out); a
    // stream that ends before End has ended early.
    bool ToStreamEnd = false;
    uint32_t StreamRate = 0;  // the header's rate, for times in messages

    // The 16-bit samples read (a FLAC stream: as its STREAMINFO counts them, 0 where that
    // count is unknown).
    int64_t Samples() const;
};

// The layout of a recording with the choices made: the file (raw.Number 0) or one of its raw
// files. A FLAC stream is always decoded (its channel 1 where no fit one is chosen); a WAV file
// whose samples need a choice that was not made is read as 16-bit bytes as it stands.
RecordingLayout LayoutOf(const WavHeader& h, const RawFile& raw, const ReadOptions& o);

}  // namespace wtk
