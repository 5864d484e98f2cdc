// The metadata of a FLAC stream as the converter reads it, with the same care as a WAV header:
// every length is checked against the file's size, nothing is allocated by a length, and the
// walk ends after a fixed number of blocks.
//
// An ID3v2 tag may come first (its size is skipped); then "fLaC" and the metadata blocks, each
// {1 byte: bit 7 last block, bits 0-6 type; 3 bytes big-endian length; body}. STREAMINFO (type
// 0, the first block, 34 bytes) holds at byte 10 the sample rate (20 bits), channels - 1 (3
// bits), bits per sample - 1 (5 bits) and the samples of each channel (36 bits, 0: unknown).
// APPLICATION blocks (type 2) begin with a 4-byte id; those of id "riff" keep the RIFF chunks of
// the WAV file the stream was made from, one block each in file order: first "RIFF", size,
// "WAVE"; then every chunk whole (header and body), but of the data chunk only its 8-byte header.
#pragma once

#include <cstdint>
#include <functional>

#include "input/wav_header.h"

namespace wtk {

// Fills h (whose FileSize ReadWavHeader has set) when the file is a FLAC stream: Flac, and from
// a valid STREAMINFO FmtFound and the format; DataOffset, DataSize, DataFound and the harp chunk
// from the kept RIFF chunks. False, with h as it was, for any other file.
bool ReadFlacHeader(const ReadAtFunction& readAt, WavHeader& h);

// The kept RIFF chunks as WalkRiffChunks visits them (all but the RIFF header and the data
// chunk's header), until visit returns false. False when the file is no FLAC stream.
bool WalkFlacRiffChunks(const ReadAtFunction& readAt, int64_t fileSize,
                        const std::function<bool(const RiffChunkHeader&)>& visit);

// Where a plain WAV header puts the first sample. A FLAC stream that keeps no RIFF chunks is read
// as the WAV file with that header holding its samples would be: from byte 100 on, that is
// without its first 28 samples of each channel.
inline constexpr int64_t kPlainWavDataOffset = 44;

}  // namespace wtk
