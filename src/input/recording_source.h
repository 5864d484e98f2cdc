// A recording as the converter reads it: 16-bit little-endian samples of one channel, from a
// byte range of a WAV file (as its bytes stand, or frames converted) or a FLAC stream decoded,
// each as its layout says (input/recording_layout.h). The engine reads every source alike, in
// pieces, in order; it never sees a file format.
//
// A source keeps only a few small buffers (a FLAC frame, a chunk of WAV frames), whatever the
// length of the recording. It is not thread-safe: one reader at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "input/recording_layout.h"

namespace wtk {

// Why a recording ended before its end: a read the system refused (Errno), or a stream that
// could not be decoded past a point (What). Every sample before StreamSample has been given.
struct ReadFailure {
    int Errno = 0;
    std::string What;          // what went wrong in the stream ("" for a system error)
    bool Stream = false;       // in a FLAC stream
    int64_t StreamSample = 0;  // the first sample of the stream not given
    uint32_t StreamRate = 0;   // samples per second of the stream (0: unknown)
};

class RecordingSource {
public:
    virtual ~RecordingSource() = default;

    // Up to n samples into out (room for 2 n bytes); fewer only at the end or at a failure.
    virtual int64_t Read(uint8_t* out, int64_t n) = 0;
    // Nothing more to read: the end, or a failure.
    virtual bool AtEnd() const = 0;
    // Where reading stands (it moves with every read that takes anything from the file, also
    // one that gives no sample), and going back there (a block is read twice for its graphs).
    virtual int64_t Tell() const = 0;
    virtual void Seek(int64_t place) = 0;
    // The samples of the recording before a place that Tell gave (those read to get there).
    virtual int64_t SamplesBefore(int64_t place) const = 0;
    // Why reading ended early, if it did (null otherwise).
    virtual const ReadFailure* Failure() const = 0;
};

// How a FLAC stream's frames are decoded: by the converter's own frame decoder for as long as
// it vouches for them (libFLAC takes over from the first frame it refuses, and for a seek
// outside the frame in hand), or by libFLAC throughout. Both give the same samples and the same
// failures; the second is there to show it, and a third shows which streams the frame decoder
// takes: it decodes them throughout, and the first frame it refuses ends the stream with a
// failure.
enum class FlacDecoding { Fast, LibFlacOnly, FastOnly };

// The recording of the layout in fd, an open file of fileSize bytes that stays the caller's.
std::unique_ptr<RecordingSource> OpenRecordingSource(int fd, int64_t fileSize,
                                                     const RecordingLayout& layout,
                                                     FlacDecoding flac = FlacDecoding::Fast);

// The message about a failure in the recording called name: "Failed to read wav file NAME:
// <the system's text>" (the same for a FLAC file, with "FLAC file"), or "Failed to decode NAME
// at 83.456 s (sample 48070656): <what>; converted up to there".
std::string ReadFailureText(const std::string& name, const ReadFailure& failure);

}  // namespace wtk
