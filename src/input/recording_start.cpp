#include "input/recording_start.h"

namespace wtk {

std::string_view TimeSourceText(TimeSource source) {
    switch (source) {
        case TimeSource::None:
            return "";
        case TimeSource::Name:
            return "name";
        case TimeSource::Pattern:
            return "pattern";
        case TimeSource::LogXml:
            return "log.xml";
        case TimeSource::Guan:
            return "guan";
        case TimeSource::Wamd:
            return "wamd";
        case TimeSource::Icmt:
            return "icmt";
        case TimeSource::Bext:
            return "bext";
    }
    return "";
}

std::string FormatRecordingStart(const RecordingStart&) {
    return {};
}
std::optional<int64_t> EncodeMicroseconds(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                          int32_t, int32_t) {
    return std::nullopt;
}
std::optional<RecordingStart> ParseSoundTrapLog(std::string_view) {
    return std::nullopt;
}
std::optional<RecordingStart> ParseGuanoChunk(std::span<const uint8_t>) {
    return std::nullopt;
}
std::optional<RecordingStart> ParseWamdChunk(std::span<const uint8_t>) {
    return std::nullopt;
}
std::optional<RecordingStart> ParseAudioMothComment(std::string_view) {
    return std::nullopt;
}
std::optional<RecordingStart> ParseInfoList(std::span<const uint8_t>) {
    return std::nullopt;
}
std::optional<RecordingStart> ParseBextChunk(std::span<const uint8_t>, uint32_t) {
    return std::nullopt;
}
bool IsStartTimeChunk(const std::array<char, 4>&) {
    return false;
}
std::optional<RecordingStart> StartFromChunks(std::span<const RiffChunk>, uint32_t) {
    return std::nullopt;
}
std::optional<RecordingStart> ReadWavStart(const ReadAtFunction&, int64_t) {
    return std::nullopt;
}
std::optional<RecordingStart> ReadWavStart(std::span<const uint8_t>) {
    return std::nullopt;
}
std::string SoundTrapLogPath(std::string_view) {
    return {};
}
std::optional<RecordingStart> ReadSoundTrapLog(const std::string&) {
    return std::nullopt;
}
std::optional<RecordingStart> ReadRecordingStart(const std::string&) {
    return std::nullopt;
}

}  // namespace wtk
