// What a recording's header says: the RIFF/WAVE container, the fmt chunk and where the data
// chunk's samples lie, read from the file's first bytes and its size; or, for a FLAC stream, its
// STREAMINFO and the RIFF chunks of the WAV file it was made from (input/flac_header.h).
//
// The reader trusts no header value: every chunk it steps over is checked against the file
// size before the next header is read, nothing is allocated by a header value, and the walk
// ends after a fixed number of chunks. A chunk of odd size is followed by a pad byte (a writer
// that left the pad out is recognised by the next chunk's name). A data chunk whose size is 0
// or 0xFFFFFFFF (a recorder that stopped before it finished the header) or runs past the file's
// end holds everything to the file's end.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace wtk {

// Format codes of the fmt chunk.
inline constexpr uint16_t kWavFormatPcm = 1;
inline constexpr uint16_t kWavFormatFloat = 3;
inline constexpr uint16_t kWavFormatExtensible = 0xFFFE;

// Bytes at the start of every file that are never read as samples.
inline constexpr int64_t kSkippedHeaderBytes = 100;

struct WavHeader {
    int64_t FileSize = 0;
    std::array<uint8_t, 4> Magic{};  // the file's first bytes (fewer in a shorter file)
    uint8_t MagicLength = 0;

    bool RiffWave = false;  // "RIFF" (or "RF64", "BW64"), a size, "WAVE"

    bool FmtFound = false;  // a complete fmt chunk (at least its 16 basic bytes)
    uint16_t FormatTag = 0;
    uint16_t SubFormat = 0;  // extensible: code of a standard sub-format GUID, else 0
    uint16_t Channels = 0;
    uint32_t SampleRate = 0;  // samples per second
    uint16_t BlockAlign = 0;  // bytes of one frame: a sample of every channel
    uint16_t BitsPerSample = 0;

    bool DataFound = false;
    int64_t DataOffset = 0;        // offset of the data chunk's first sample byte
    uint32_t DataSize = 0;         // the size the chunk declares
    bool DataSizeValid = false;    // neither 0 nor 0xFFFFFFFF, and the chunk ends within the file
    bool ChunksAfterData = false;  // a chunk header's worth of bytes follows the data chunk
    bool SecondDataChunk = false;  // another data chunk follows the first (it is not read)
    bool TooManyChunks = false;    // the walk gave up before it found the data chunk

    // An XWAV file's harp chunk (the raw files it holds, input/harp_chunk.h): its body.
    bool HarpFound = false;
    int64_t HarpOffset = 0;
    uint32_t HarpSize = 0;

    // A FLAC stream. Its STREAMINFO sets FmtFound, FormatTag (PCM), Channels, SampleRate,
    // BitsPerSample and BlockAlign (the bytes a frame takes in a WAV file). DataOffset is where
    // the samples began in the WAV file the stream was made from, as its RIFF chunks kept in the
    // stream say (DataFound, DataSize), else 44, where a plain WAV header puts them.
    bool Flac = false;
    int64_t FlacSamples = 0;  // samples of each channel, from STREAMINFO; 0: not known
};

// Reads up to n bytes at offset into buf; returns how many it got (fewer at the file's end).
using ReadAtFunction = std::function<size_t(int64_t offset, uint8_t* buf, size_t n)>;

// Reads from bytes held in memory (the span must outlive the function).
ReadAtFunction ReadAtMemory(std::span<const uint8_t> file);
// Reads from an open file descriptor with pread (the file position does not move).
ReadAtFunction ReadAtFd(int fd);

// The header of a file of fileSize bytes, read through readAt.
WavHeader ReadWavHeader(const ReadAtFunction& readAt, int64_t fileSize);
// The header of a file held whole in memory.
WavHeader ReadWavHeader(std::span<const uint8_t> file);
// The header of an open file descriptor (read with pread: the file position does not move).
WavHeader ReadWavHeaderOfFd(int fd, int64_t fileSize);

// One chunk header met by WalkRiffChunks.
struct RiffChunkHeader {
    std::array<char, 4> Id{};
    uint32_t Size = 0;       // as declared
    int64_t BodyOffset = 0;  // the first byte after the 8-byte chunk header
    int64_t NextOffset = 0;  // where the next chunk header is looked for (after any pad byte)
    bool Complete = false;   // the body ends within the file
};

// Visits the chunks of a RIFF/WAVE file in file order, as the header reader walks them (the
// same limits and pad-byte rule), until visit returns false, a chunk runs past the file's end
// (it is visited, then the walk ends) or a data chunk without a valid size (it holds the rest
// of the file) was visited. Of a FLAC stream, the chunks of the WAV file it was made from that
// it keeps (all but the RIFF header and the data chunk; offsets are those of the FLAC file). False
// when the file is neither.
bool WalkRiffChunks(const ReadAtFunction& readAt, int64_t fileSize,
                    const std::function<bool(const RiffChunkHeader&)>& visit);

// How a file suits the converter, which reads 16-bit little-endian samples of one channel.
enum class WavFit {
    Fit,      // RIFF/WAVE, PCM (plain or extensible), 16 bits, 1 channel
    Unfit,    // a readable header that says otherwise, one whose samples cannot be found for
              // its many chunks, or 44 bytes or more that are no RIFF/WAVE
    Unknown,  // too short or too damaged to tell
};
WavFit ClassifyWav(const WavHeader& h);

// What the header says, for messages: "PCM, 24 bits, 2 channels, 576000 samples/s", "FLAC,
// 16 bits, 1 channel, 96000 samples/s", or "not a RIFF/WAVE file (it starts with "ID3")".
std::string DescribeWavHeader(const WavHeader& h);

// The bytes of a file read as 16-bit samples: from max(100, the data chunk's first sample byte)
// to the end of the data chunk when its size is valid, else to the end of the file (of a FLAC
// stream, from byte 100 to its end). End >= Begin.
struct SampleByteRange {
    int64_t Begin = kSkippedHeaderBytes;
    int64_t End = 0;
};
SampleByteRange SampleBytes(const WavHeader& h);

}  // namespace wtk
