// A recording through the whole conversion: selection, header reading (WAV, FLAC, the raw files
// of an XWAV file), sample conversion or decoding, filters, peak finder, detector, minute ends,
// TK1 writer and linkage file. The input is the file, header included; its last byte chooses
// the sample rate, the settings preset, graphs, which of the two conversions runs, whether
// samples are turned into 16-bit ones and which channel is read. A conversion ends done, or
// failed only where a recording could not be read or decoded to its end. The TK1 file must be one
// the dump reads as sound, its header must count the minute records it holds, and a second
// conversion of the same file in a new session must give the same bytes and the same memo lines.
#include <algorithm>
#include <cstdio>
#include <map>

#include "dump/tk1_dump.h"
#include "fuzz_support.h"
#include "output/tk1_codec.h"
#include "session/session.h"

namespace {

using wtk::fuzz::Expect;

// Answers the destination dialog with a folder of the scratch space, says yes to every
// question and keeps the memo lines.
class Host : public wtk::NullHost {
public:
    explicit Host(std::string chosen) : chosen_(std::move(chosen)) {}
    std::map<wtk::Memo, std::vector<std::string>> memos;
    void AppendMemo(wtk::Memo which, const std::string& line) override {
        memos[which].push_back(line);
    }
    std::optional<std::string> SaveTK1Dialog(const std::string&) override { return chosen_; }
    bool AskYesNo(const std::string&) override { return true; }
    void Report(const wtk::Event& event) override {
        readFailures += event.Kind == wtk::EventKind::WavReadFailed ? 1 : 0;
        wtk::NullHost::Report(event);
    }
    int readFailures = 0;  // recordings cut short or undecodable part of the way

private:
    std::string chosen_;
};

struct Outputs {
    std::vector<uint8_t> tk1, linkage;
    std::map<wtk::Memo, std::vector<std::string>> memos;
    int32_t recordings = 0;
};

Outputs Convert(const std::filesystem::path& wav, const std::filesystem::path& out,
                uint8_t choice) {
    static const char* const kRates[] = {"1", "2", "48", "96"};
    std::filesystem::remove_all(out);
    std::filesystem::create_directories(out);
    Host host((out / "chosen.TK1").string());
    wtk::Session s(host);
    s.Start();
    wtk::Session::EngineOptions engine;
    engine.NowMinute = [] { return 0; };  // the finalisation time: the same in both runs
    s.Tune(engine);
    s.Controls.KsamplesPerSecEdit = kRates[choice & 3];
    s.Controls.ShowGraphs = (choice & 4) != 0;
    s.Controls.AddedSiteNameEdit = "F";
    s.Controls.ToSixteenBit = (choice & 64) != 0;
    s.Controls.Channel = (choice & 128) != 0 ? 2 : 1;
    switch ((choice >> 3) & 3) {
        case 1:
            s.SetFm.SevereNoiseSettingsBtnClick();
            break;
        case 2:
            s.SetFm.MinimalNoiseSettingsBtnClick();
            break;
        case 3:
            s.SetFm.Set("GainControlGroup", "1");  // the threshold moves instead of the gain
            break;
        default:
            break;
    }
    s.SelectPaths({wav.string()});
    if ((choice & 32) != 0) {
        s.MakeScrapbookBtnClick();
    } else {
        s.ConvertBatchBtnClick();
    }
    Expect(s.LastOutcome == wtk::Session::Outcome::Done ||
           (s.LastOutcome == wtk::Session::Outcome::Failed && host.readFailures > 0));
    Expect(s.Idle());

    Outputs o;
    o.memos = host.memos;
    o.recordings = s.NofWAVfilesFound;
    for (const auto& entry : std::filesystem::directory_iterator(out)) {
        const std::string ext = entry.path().extension().string();
        if (ext == ".TK1") o.tk1 = wtk::fuzz::ReadBytes(entry.path());
        if (ext == ".txt") o.linkage = wtk::fuzz::ReadBytes(entry.path());
    }
    return o;
}

// The TK1 file as the dump reads it, and its minute count against its minute records.
void CheckTk1(const std::filesystem::path& folder, const std::vector<uint8_t>& tk1) {
    namespace codec = wtk::tk1;
    Expect(tk1.size() >= static_cast<size_t>(codec::kEmptyFileBytes) &&
           (tk1.size() - codec::kHeaderBytes) % codec::kRecordBytes == 0);
    const std::filesystem::path copy = folder / "check.TK1";
    wtk::fuzz::WriteBytes(copy, tk1.data(), tk1.size());
    std::FILE* sink = std::fopen("/dev/null", "wb");
    Expect(wtk::dump::DumpTK1(copy.string(), {}, sink, sink) == 0);
    Expect(wtk::dump::DumpTK1(copy.string(), {.Csv = true}, sink, sink) == 0);
    std::fclose(sink);
    uint32_t minuteRecords = 0;
    for (const codec::RecordView& r : codec::Records(tk1)) {
        minuteRecords += r.Kind == codec::RecordKind::Minute;
    }
    const codec::Header h = codec::DecodeHeader(
        std::span<const uint8_t, codec::kHeaderBytes>(tk1.data(), codec::kHeaderBytes));
    Expect(h.MinuteCount == std::max<uint32_t>(minuteRecords, 1));
    Expect(h.LastLoggingMin == h.StartMin + minuteRecords);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::filesystem::path folder = wtk::fuzz::ScratchFolder("conversion");
    const std::filesystem::path wav = folder / "F.20230517140000.wav";
    wtk::fuzz::WriteBytes(wav, data, size);
    const uint8_t choice = size > 0 ? data[size - 1] : 0;

    const Outputs first = Convert(wav, folder / "out", choice);
    CheckTk1(folder, first.tk1);
    // One linkage line (its start minute, a tab, its path) per recording: the file, or each raw
    // file of an XWAV file.
    Expect(first.recordings >= 1 &&
           std::count(first.linkage.begin(), first.linkage.end(), '\n') == first.recordings);
    const Outputs second = Convert(wav, folder / "out", choice);
    Expect(second.tk1 == first.tk1);
    Expect(second.linkage == first.linkage);
    Expect(second.memos == first.memos);
    return 0;
}
