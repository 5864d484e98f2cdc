// A recording's start time as the recorder wrote it into the file or beside it.
//
// Five sources are read, each by a small reader of outside bytes that trusts no size or text:
//  - log.xml: the sidecar NAME.log.xml beside NAME.wav that some recorders write. Of the
//    `<CFG ID="n" FTYPE="wav">` blocks, the one whose `<SUFFIX>` is `wav` is the recording's
//    stream (others, such as `dwv` click snippets, start at other times); its `<PROC_EVENT
//    ID="n">` blocks hold `<WavFileHandler SamplingStartTimeUTC="YYYY-MM-DDThh:mm:ss"/>` (UTC).
//  - guan: a `guan` chunk, UTF-8 `Key: value` lines whose first is `GUANO|Version: ...`; its
//    `Timestamp` is ISO 8601 (`YYYY-MM-DDThh:mm:ss[.f...][Z|+hh:mm|-hh:mm]`, local without zone).
//  - wamd: a `wamd` chunk of sub-chunks {u16 id, u32 length, bytes}; id 5 holds
//    `YYYY-MM-DD hh:mm:ss[.fff][+hh:mm|-hh:mm]`.
//  - icmt: the `ICMT` comment of a `LIST`/`INFO` chunk that begins
//    `Recorded at hh:mm:ss DD/MM/YYYY (UTC[+h[:mm]|-h[:mm]])`.
//  - bext: a broadcast-audio `bext` chunk: OriginationDate `YYYY-MM-DD` at byte 320,
//    OriginationTime `hh:mm:ss` at 330 and TimeReference (u64, samples since midnight) at 338.
//    A TimeReference within the day, with a known sample rate, gives the time of day to the
//    microsecond; else OriginationTime does. The time has no zone.
//
// Times with a zone are converted to UTC (Zoned); times without one stand as the recorder's
// clock gave them. Dates and times are checked (month 1-12, the day within its month, hour
// < 24, minute < 60, second < 60, years 1-9999, zone within +-23:59); a field that is not what
// its source writes gives no time rather than an absurd one.
//
// Where one file has several, the first of this order is taken: guan, wamd, icmt, log.xml,
// bext. GUANO and the recorders' own chunks carry the start and its zone; the sidecar is a
// separate file matched by name only; a bext chunk is also written by editing software, whose
// OriginationDate/Time may be when the file was exported rather than when it was recorded.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/calendar.h"
#include "input/wav_header.h"

namespace wtk {

// Harp: the start an XWAV file's harp chunk gives a raw file (input/harp_chunk.h).
enum class TimeSource { None, Name, Pattern, LogXml, Guan, Wamd, Icmt, Bext, Harp };

// "name", "pattern", "log.xml", "guan", "wamd", "icmt", "bext", "harp" ("" for None).
std::string_view TimeSourceText(TimeSource source);

struct RecordingStart {
    // Microseconds since 1899-12-30 00:00 (day 0 of the minute numbers, proleptic Gregorian):
    // UTC where Zoned, else the recorder's own clock.
    int64_t Microseconds = 0;
    bool Zoned = false;
    TimeSource Source = TimeSource::None;
    // Where Zoned: the zone's offset east of UTC in minutes, so that the recorder's local time
    // is Microseconds plus it.
    int32_t ZoneMinutes = 0;

    bool operator==(const RecordingStart&) const = default;
};

// The start as ISO 8601 with microseconds: "2021-06-10T03:36:54.250000", with "Z" when Zoned.
std::string FormatRecordingStart(const RecordingStart& start);

// The start of a calendar date and time (microseconds since 1899-12-30 00:00), empty when a
// field is out of range (see above). zoneMinutes is the zone's offset east of UTC, subtracted.
std::optional<int64_t> EncodeMicroseconds(int32_t year, int32_t month, int32_t day, int32_t hour,
                                          int32_t minute, int32_t second, int32_t microsecond = 0,
                                          int32_t zoneMinutes = 0);

// An ISO 8601 date and time as the sources write it: YYYY-MM-DD, 'T' or a blank,
// hh:mm:ss[.f...] (up to 9 digits, cut to microseconds), then "Z", +hh:mm, -hh:mm, +hhmm or +hh
// (Zoned) or nothing; blanks around it are ignored. Source None.
std::optional<RecordingStart> ParseIso8601(std::string_view text);

// The readers of each source's bytes; empty when the bytes hold no valid start.
std::optional<RecordingStart> ParseSoundTrapLog(std::string_view xml);
std::optional<RecordingStart> ParseGuanoChunk(std::span<const uint8_t> body);
std::optional<RecordingStart> ParseWamdChunk(std::span<const uint8_t> body);
// An ICMT comment's text (the INFO sub-chunk's bytes, trailing NULs allowed).
std::optional<RecordingStart> ParseAudioMothComment(std::string_view comment);
// A LIST chunk's body ("INFO" and its sub-chunks): the ICMT comment's start.
std::optional<RecordingStart> ParseInfoList(std::span<const uint8_t> body);
// sampleRate 0: unknown (OriginationTime is used).
std::optional<RecordingStart> ParseBextChunk(std::span<const uint8_t> body, uint32_t sampleRate);

// One RIFF chunk: its id and its body (without the 8-byte chunk header).
struct RiffChunk {
    std::array<char, 4> Id{};
    std::span<const uint8_t> Body;
};

// Chunks whose bodies are read for a start time ("guan", "wamd", "LIST", "bext"); any other
// chunk is ignored by StartFromChunks and need not be collected.
bool IsStartTimeChunk(const std::array<char, 4>& id);
// The largest chunk body read for a start time; larger chunks are skipped.
inline constexpr uint32_t kMaxStartChunkBytes = 64 * 1024;

// The start from a file's metadata chunks, in the order of sources above; sampleRate serves the
// bext TimeReference (0: unknown). The first chunk of each id counts.
std::optional<RecordingStart> StartFromChunks(std::span<const RiffChunk> chunks,
                                              uint32_t sampleRate);

// The start from a RIFF/WAVE file's own chunks: a bounded walk of every chunk, before and after
// the data chunk, reading only the chunks of interest up to kMaxStartChunkBytes each and the
// fmt chunk's sample rate. Of a FLAC stream, the chunks it keeps of the WAV file it was made
// from.
std::optional<RecordingStart> ReadWavStart(const ReadAtFunction& readAt, int64_t fileSize);
std::optional<RecordingStart> ReadWavStart(std::span<const uint8_t> file);

// The sidecar's path: NAME.log.xml for NAME.wav or NAME.flac (any case of the extension); ""
// when the path ends in neither.
std::string SoundTrapLogPath(std::string_view wavPath);
// The largest sidecar read; a larger one is ignored.
inline constexpr int64_t kMaxSoundTrapLogBytes = 1024 * 1024;
// The sidecar's start, when there is one of at most kMaxSoundTrapLogBytes.
std::optional<RecordingStart> ReadSoundTrapLog(const std::string& wavPath);

// A recording's own start: its chunks and its sidecar, in the order above. Files that cannot be
// opened or read give none.
std::optional<RecordingStart> ReadRecordingStart(const std::string& wavPath);

}  // namespace wtk
