// FLAC frames decoded from bytes in memory, for the converter's fast path: the frames of the
// streams recorders write (any block size, 4 ... 24 bits, 1 ... 8 channels, every subframe
// kind, both residual codings, wasted bits, the stereo decorrelations). It vouches only for a
// frame that is whole and sound: sync, header and its CRC-8, subframes, zero padding and the
// frame's CRC-16, block size and format as the STREAMINFO says, and every sample within its
// bits. Anything else it refuses without deciding what is wrong, and the caller hands the
// stream to libFLAC from that frame on, which reports damage as it always has. Its samples are
// those libFLAC gives for the same frame: predictions are summed in 64 bits, exactly.
//
// No allocation per frame (the channel buffers are sized once, from the STREAMINFO's largest
// block), no virtual call; reads never go past the bytes given plus kPadding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace wtk {

// What the decoder needs of the STREAMINFO block.
struct FlacStreamInfo {
    uint32_t MinBlockSize = 0;  // samples of each channel in a frame (the last may be shorter)
    uint32_t MaxBlockSize = 0;
    uint32_t SampleRate = 0;
    uint32_t Channels = 0;       // 1 ... 8
    uint32_t BitsPerSample = 0;  // 4 ... 32
};

class FlacFrameDecoder {
public:
    // Bytes past the n given to Decode that it may read (their values do not matter).
    static constexpr size_t kPadding = 16;

    enum class Result {
        Frame,     // a whole, sound frame: used, FirstSample, BlockSize and Channel tell it
        NeedMore,  // the bytes given end within what may be a frame: call again with more
        Refused,   // not a frame this decoder vouches for (or a stream it does not take)
    };

    explicit FlacFrameDecoder(const FlacStreamInfo& info);

    // Whether the stream is one this decoder takes at all (otherwise every Decode refuses).
    bool Takes() const { return takes_; }

    // The frame that begins at data[0], of n readable bytes (and kPadding more). On Frame,
    // *used is its length in bytes.
    Result Decode(const uint8_t* data, size_t n, size_t* used);

    // The last frame decoded: its first sample in the stream (the header's sample number, or its
    // frame number times the stream's block size), its samples per channel, and channel c's
    // samples (c < Channels).
    int64_t FirstSample() const { return firstSample_; }
    int32_t BlockSize() const { return blockSize_; }
    const int32_t* Channel(uint32_t c) const { return channels_[c].data(); }

private:
    FlacStreamInfo info_;
    bool takes_ = false;
    int64_t firstSample_ = 0;
    int32_t blockSize_ = 0;
    // A frame of another length than the stream's blocks was taken: frame numbers after it may
    // stand for other sample numbers than frame number x block size.
    bool oddBlockSeen_ = false;
    // The blocking strategy of the first frame taken (-1: none yet); a stream keeps one.
    int strategy_ = -1;
    std::vector<std::vector<int32_t>> channels_;
};

// For tests: the processor's own instructions where it has them (BMI2 and LZCNT for the Rice
// codes, carry-less multiplication for the frames' CRC-16, AVX2 for the residuals' signs), or the
// plain code throughout. False, and nothing changed, for the former where it has none of them. At
// start the former.
bool UseProcessorInstructions(bool on);

}  // namespace wtk
