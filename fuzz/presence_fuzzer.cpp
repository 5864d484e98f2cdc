// The click-train analysis of a location, from outside bytes. The first byte chooses what the
// rest is: even, a whole TK1 file as found beside no side file; odd, a recordings table's text,
// a zero byte, then eight bytes per click of a TK1 file made here (the minutes to move on before
// it, 0 to 3; its time in the minute, 3 bytes; its period, cycles, amplitude, and spread with the
// peaks beside the largest). The reader must refuse what it cannot read with an InputError only;
// what it reads must give trains numbered 1, 2, ... in order of their start (unless the clicks went
// back in time), each with at least the clicks a train needs, whose clicks the labels find again;
// presence rows with counts only where something was recorded.
#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "output/tk1_codec.h"
#include "presence/location_clicks.h"
#include "presence/presence.h"

namespace {

using wtk::fuzz::Expect;
namespace tk1 = wtk::tk1;
namespace presence = wtk::presence;

std::vector<uint8_t> Tk1Of(const uint8_t* clicks, size_t size) {
    constexpr uint32_t kStart = 65'454'240;  // 2024-06-11 08:00
    std::vector<uint8_t> f(tk1::kHeaderBytes, 0);
    tk1::Header header;
    header.StartMin = kStart;
    tk1::PutCreationFields(f, header);
    auto record = [&](const tk1::Record& r) { f.insert(f.end(), r.begin(), r.end()); };
    record(tk1::LeadRecord());
    record(tk1::EncodeMinute({}));
    uint32_t minutes = 1;
    int32_t last = 0;
    for (size_t at = 0; at + 8 <= size && at < 8 * 4000; at += 8) {
        const int moves = clicks[at] & 3;
        for (int m = 0; m < moves; ++m, ++minutes) record(tk1::EncodeMinute({}));
        if (moves > 0) last = 0;
        tk1::Click c;
        // Times grow within a minute, as the converter writes them.
        last = std::min<int32_t>(
            tk1::kTimeUnitsPerMinute - 1,
            last + static_cast<int32_t>((uint32_t{clicks[at + 1]} << 16 |
                                         uint32_t{clicks[at + 2]} << 8 | clicks[at + 3]) %
                                        200'000));
        c.ClkTime5MuSecs = last;
        c.IPIpreMax = c.IPIPostMax = clicks[at + 4];
        c.Ncyc = clicks[at + 5];
        c.Pmax = clicks[at + 6];
        c.IPIrangeCode = clicks[at + 7] & 15;
        // The peaks either side of the largest: how evenly the click rings.
        c.PkMinus1 = c.PkPlus1 = static_cast<uint8_t>((clicks[at + 7] >> 4) * 17);
        record(tk1::EncodeClick(c));
    }
    record(tk1::EndRecord());
    tk1::PutFinalisationFields(f, static_cast<int32_t>(kStart + minutes), 0,
                               static_cast<int32_t>(minutes));
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const std::filesystem::path dir = wtk::fuzz::ScratchFolder("presence");
    const std::string tk1Path = (dir / "SiteA 2024 06 11.TK1").string();
    if ((data[0] & 1) == 0) {
        wtk::fuzz::WriteBytes(tk1Path, data + 1, size - 1);
    } else {
        const uint8_t* end = data + size;
        const uint8_t* zero = std::find(data + 1, end, uint8_t{0});
        wtk::fuzz::WriteBytes(dir / "SiteA 2024 06 11.recordings.csv", data + 1,
                              static_cast<size_t>(zero - data - 1));
        const uint8_t* clicks = zero == end ? end : zero + 1;
        const std::vector<uint8_t> file = Tk1Of(clicks, static_cast<size_t>(end - clicks));
        wtk::fuzz::WriteBytes(tk1Path, file.data(), file.size());
    }
    try {
        presence::LocationReader reader({"SiteA", {tk1Path}});
        // A click more than a second before the latest of its recording breaks every chain
        // (a damaged file's times): trains after it may begin before those already given.
        bool steppedBack = false;
        {
            presence::TimedClick click;
            int64_t latest = 0;
            int32_t recording = 0;
            for (bool first = true; reader.Next(click); first = false) {
                if (!first && click.Recording == recording && click.TimeUs < latest - 1'000'000) {
                    steppedBack = true;
                }
                latest = first || click.Recording != recording ? click.TimeUs
                                                               : std::max(latest, click.TimeUs);
                recording = click.Recording;
            }
        }
        presence::TrainIndex index;
        std::vector<presence::Train> trains;
        const presence::TrainOptions options;
        presence::PresenceCounter counter(
            "SiteA", {presence::Period::Hour, 120, presence::TrainQuality::Low});
        for (const auto& [from, to] : reader.Effort()) counter.AddEffort(from, to);
        presence::FindTrains(
            reader, options, presence::TrainQuality::Moderate, [&](const presence::Train& t) {
                Expect(t.Number == static_cast<int64_t>(trains.size()) + 1);
                Expect(t.Clicks >= options.MinClicks && t.StartUs <= t.EndUs);
                Expect(steppedBack || trains.empty() || trains.back().StartUs <= t.StartUs ||
                       trains.back().Recording != t.Recording);
                trains.push_back(t);
                index.Add(t);
                counter.AddTrain(t);
            });
        std::vector<int32_t> labelled(trains.size() + 1, 0);
        presence::LabelClicks(reader, options, index,
                              [&](const presence::TimedClick&, const presence::TrainLabel* l) {
                                  if (l != nullptr) ++labelled[static_cast<size_t>(l->Number)];
                              });
        for (const presence::Train& t : trains) {
            Expect(labelled[static_cast<size_t>(t.Number)] == t.Clicks);
        }
        try {
            for (const presence::PresenceRow& row : counter.Rows()) {
                Expect(row.NbhfDpm.has_value() == (row.RecordedUs > 0));
                Expect(row.RecordedMinutes <= 60 && row.RecordedUs <= 3'600'000'000LL);
                Expect(!row.NbhfDpm || *row.NbhfDpm <= 60);
            }
        } catch (const std::length_error&) {
            // Recordings decades apart: refused.
        }
    } catch (const presence::InputError&) {
    }
    return 0;
}
