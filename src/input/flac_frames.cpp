#include "input/flac_frames.h"

namespace wtk {

FlacFrameDecoder::FlacFrameDecoder(const FlacStreamInfo& info) : info_(info) {}

FlacFrameDecoder::Result FlacFrameDecoder::Decode(const uint8_t*, size_t, size_t* used) {
    *used = 0;
    return Result::Refused;
}

}  // namespace wtk
