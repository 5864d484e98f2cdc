#include "synth/click_file.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "base/calendar.h"

namespace wtk::synth {

namespace {

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

File Create(const std::string& path) {
    File f(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!f) throw std::runtime_error("cannot create " + path);
    return f;
}

void Put(std::FILE* f, const void* data, size_t n, const std::string& path) {
    if (std::fwrite(data, 1, n, f) != n) throw std::runtime_error("cannot write " + path);
}

int64_t MinuteOf(int64_t us) {
    return FloorDivide(us, kMicrosecondsPerMinute).Quotient;
}

}  // namespace

void WriteClickFile(const std::string& tk1Path, const std::vector<ClickFileRecording>& recordings,
                    const std::vector<ClickAtTime>& clicks, ClickFileSides sides) {
    if (recordings.empty()) throw std::runtime_error("a click file needs a recording");
    const int64_t first = MinuteOf(recordings.front().StartUs);
    int64_t last = first;
    for (const ClickFileRecording& r : recordings) {
        const int64_t end = r.StartUs + r.Samples * kMicrosecondsPerSecond / r.RateHz;
        last = std::max(last, MinuteOf(std::max(end - 1, r.StartUs)));
    }
    const int64_t minutes = last - first + 1;

    std::vector<uint8_t> header(tk1::kHeaderBytes, 0);
    tk1::Header h;
    h.StartMin = static_cast<uint32_t>(first);
    tk1::PutCreationFields(header, h);
    tk1::PutFinalisationFields(header, static_cast<int32_t>(first + minutes),
                               static_cast<int32_t>(first + minutes),
                               static_cast<int32_t>(minutes));
    File tk1 = Create(tk1Path);
    Put(tk1.get(), header.data(), header.size(), tk1Path);
    auto record = [&](const tk1::Record& r) { Put(tk1.get(), r.data(), r.size(), tk1Path); };
    record(tk1::LeadRecord());
    size_t next = 0;
    for (int64_t m = first; m <= last; ++m) {
        record(tk1::EncodeMinute({}));
        for (; next < clicks.size() && MinuteOf(clicks[next].TimeUs) <= m; ++next) {
            tk1::Click c = clicks[next].Fields;
            if (MinuteOf(clicks[next].TimeUs) < m) continue;  // before the file: left out
            c.ClkTime5MuSecs = static_cast<int32_t>(
                FloorDivide(clicks[next].TimeUs, kMicrosecondsPerMinute).Remainder /
                tk1::kMicrosecondsPerTimeUnit);
            record(tk1::EncodeClick(c));
        }
    }
    record(tk1::EndRecord());
    if (std::fclose(tk1.release()) != 0) throw std::runtime_error("cannot write " + tk1Path);

    const std::string stem = tk1Path.substr(0, tk1Path.size() - 4);
    if (sides.RecordingsTable) {
        const std::string path = stem + ".recordings.csv";
        File f = Create(path);
        std::string text = std::string(tk1::kRecordingsHeading) + "\r\n";
        for (const ClickFileRecording& r : recordings) {
            tk1::RecordingRow row;
            row.Path = r.Path;
            row.StartUs = r.StartUs;
            row.Zoned = true;
            row.TimeSource = "name";
            row.RateHz = r.RateHz;
            row.Samples = r.Samples;
            row.PlacedUs = r.StartUs;
            text += tk1::EncodeRecordingRow(row) + "\r\n";
        }
        Put(f.get(), text.data(), text.size(), path);
    }
    if (sides.Linkage) {
        const std::string path = stem + ".txt";
        File f = Create(path);
        std::string text;
        for (const ClickFileRecording& r : recordings) {
            text += tk1::EncodeLinkageLine(static_cast<int32_t>(MinuteOf(r.StartUs)), r.Path);
        }
        Put(f.get(), text.data(), text.size(), path);
    }
}

}  // namespace wtk::synth
