// The raw files of an XWAV file. Recorders that record on a duty cycle (or in stretches of fixed
// length) write each stretch as a raw file and list the raw files in a harp chunk before the
// data chunk, whose samples they are, one after the other.
//
// The chunk's body: 56 bytes about the recording (version, firmware, instrument, site,
// experiment, disk sequence number and serial, the number of raw files as u16 at byte 36,
// longitude, latitude, depth, reserved), then 32 bytes per raw file: year - 2000, month, day,
// hour, minute and second (a byte each), milliseconds (u16), the byte of the file where its
// samples begin (u32), its length in bytes (u32), the blocks written (u32), its sample rate
// (u32), its gain (a byte) and 7 bytes unused. Integers are little-endian.
//
// A chunk is taken only whole and sound: the count within the chunk, every date and time a real
// one, the first raw file beginning where the data chunk's samples do, and each raw file after
// the one before it and within the data chunk. Anything else leaves the file one recording.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "input/wav_header.h"

namespace wtk {

// One raw file of an XWAV file; Number 0 stands for the whole file (no raw files).
struct RawFile {
    int32_t Number = 0;        // 1, 2, ... in the order of the chunk
    int32_t Count = 0;         // raw files of the file
    int64_t StartUs = 0;       // microseconds since 1899-12-30 00:00, the recorder's clock
    int64_t FirstStartUs = 0;  // the start of raw file 1
    int64_t ByteOffset = 0;    // its first sample byte in the (WAV) file
    int64_t ByteLength = 0;

    bool operator==(const RawFile&) const = default;
};

// The largest harp chunk read: the fields and 65535 raw files.
inline constexpr uint32_t kMaxHarpBytes = 56 + 32 * 65535;

// The raw files a harp chunk body lists, or why they cannot be taken. dataBegin and dataEnd are
// the bytes of the data chunk's samples.
std::variant<std::vector<RawFile>, std::string> ParseHarpChunk(std::span<const uint8_t> body,
                                                               int64_t dataBegin, int64_t dataEnd);

// The raw files of the file whose header is h (none where it has no harp chunk), or why its harp
// chunk cannot be taken. Of a FLAC stream, the offsets are those of the WAV file it was made
// from.
std::variant<std::vector<RawFile>, std::string> ReadRawFiles(const ReadAtFunction& readAt,
                                                             const WavHeader& h);

// "PATH#N" for raw file N, else the path.
std::string RawFileName(const std::string& path, const RawFile& raw);

}  // namespace wtk
