// The start-time readers on any bytes: each source's parser on the whole input, the input as a
// whole WAV file and as the start of a longer one (cut while it is read). A time found must be a
// real instant of the years 0001-9999 (a day either side for zones), written back and read again
// unchanged, and carry the source of the reader that found it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

#include "fuzz_support.h"
#include "input/recording_start.h"

namespace {

using wtk::RecordingStart;
using wtk::TimeSource;
using wtk::fuzz::Expect;

constexpr int64_t kDay = 86400 * wtk::kMicrosecondsPerSecond;
constexpr int64_t kYear1 = -693593 * kDay;      // 0001-01-01 00:00
constexpr int64_t kYear10000 = 2958466 * kDay;  // 10000-01-01 00:00

void Check(const std::optional<RecordingStart>& start, TimeSource source) {
    if (!start) return;
    Expect(start->Source == source);
    Expect(start->Microseconds >= kYear1 - kDay && start->Microseconds < kYear10000 + kDay);
    const auto again = wtk::ParseIso8601(wtk::FormatRecordingStart(*start));
    const bool inYears = start->Microseconds >= kYear1 && start->Microseconds < kYear10000;
    if (inYears) {
        Expect(again && again->Microseconds == start->Microseconds && again->Zoned == start->Zoned);
    }
}

void CheckFile(const std::optional<RecordingStart>& start) {
    if (!start) return;
    Expect(start->Source == TimeSource::Guan || start->Source == TimeSource::Wamd ||
           start->Source == TimeSource::Icmt || start->Source == TimeSource::Bext);
    Check(start, start->Source);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    Check(wtk::ParseSoundTrapLog(text), TimeSource::LogXml);
    Check(wtk::ParseGuanoChunk(bytes), TimeSource::Guan);
    Check(wtk::ParseWamdChunk(bytes), TimeSource::Wamd);
    Check(wtk::ParseAudioMothComment(text), TimeSource::Icmt);
    Check(wtk::ParseInfoList(bytes), TimeSource::Icmt);
    uint32_t rate = 0;
    if (size >= 4) std::memcpy(&rate, data + size - 4, 4);
    Check(wtk::ParseBextChunk(bytes, rate), TimeSource::Bext);
    Check(wtk::ParseIso8601(text), TimeSource::None);

    CheckFile(wtk::ReadWavStart(bytes));
    CheckFile(wtk::ReadWavStart(wtk::ReadAtMemory(bytes), static_cast<int64_t>(size) + 4096));
    return 0;
}
