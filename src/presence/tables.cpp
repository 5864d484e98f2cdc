#include "presence/tables.h"

#include "base/calendar.h"
#include "base/csv.h"
#include "base/numbers.h"
#include "output/tk1_codec.h"

namespace wtk::presence {

namespace {

std::string Count(const std::optional<int32_t>& v) {
    return v ? std::to_string(*v) : std::string();
}

}  // namespace

std::string OffsetTimeText(int64_t utcMicroseconds, int32_t offsetMinutes) {
    return IsoMicroseconds(utcMicroseconds + int64_t{offsetMinutes} * kMicrosecondsPerMinute, 'T') +
           UtcOffsetText(offsetMinutes);
}

std::string TrainRow(const Train& t, std::string_view location, std::string_view recording) {
    std::string s = std::to_string(t.Number);
    s += ',' + CsvField(location) + ',' + CsvField(recording);
    s += ',' + OffsetTimeText(t.StartUs, 0) + ',' + OffsetTimeText(t.EndUs, 0);
    s += ',' + std::to_string(t.Clicks);
    for (const double v : {t.IciModalMs, t.IciMinMs, t.IciMaxMs, t.KhzMedian}) {
        s += ',' + FixedText(v, 3);
    }
    s += ',' + FixedText(t.PmaxMedian, 1);
    s += ',' + std::string(ClassName(t.Class)) + ',' + std::string(QualityName(t.Quality));
    s += ',' + std::to_string(t.BuzzClicks) + ',';
    if (t.Encounter > 0) s += std::to_string(t.Encounter);
    return s;
}

std::string PresenceRowText(const PresenceRow& r) {
    std::string s = OffsetTimeText(r.PeriodStartUs, r.UtcOffsetMinutes);
    s += ',' + CsvField(r.Location) + ',' + std::to_string(r.RecordedMinutes) + ',' +
         tk1::SecondsText(r.RecordedUs);
    for (const auto* v : {&r.NbhfDpm, &r.DolphinDpm, &r.SonarMinutes, &r.BuzzMinutes, &r.NbhfTrains,
                          &r.Encounters}) {
        s += ',' + Count(*v);
    }
    return s;
}

}  // namespace wtk::presence
