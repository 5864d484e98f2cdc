// File-name parsing on any names: the built-in form (location, date and time from the end of
// the name, identity rule) and, when the input holds a NUL byte, a --name-date pattern (the text
// before it) matched against the name (the text after it). A date found must be a real minute
// of the years the forms can give (placing the file at it keeps the name's date text), the
// identity must come from the name or the site name, and
// the file list's line of the record must keep its six cells on one line whatever the name
// holds.
#include <algorithm>
#include <string>
#include <string_view>
#include <variant>

#include "base/host.h"
#include "base/sample_rate.h"
#include "base/utf8.h"
#include "fuzz_support.h"
#include "input/name_parsing.h"
#include "input/name_pattern.h"
#include "input/selection.h"
#include "input/start_times.h"

namespace {

using wtk::fuzz::Expect;

constexpr int32_t kMinute2000 = 52597440;   // 2000-01-01 00:00
constexpr int32_t kMinute2100 = 105193440;  // 2100-01-01 00:00

// The name's digits as they stand; the built-in form also takes a field with a plus sign.
bool Digits(std::string_view s, bool signAllowed) {
    for (const char c : s) {
        if ((c < '0' || c > '9') && !(signAllowed && c == '+')) return false;
    }
    return true;
}

void CheckRecord(const wtk::WavFileRec& rec, const wtk::SampleRate& rate, bool pattern) {
    if (rec.DateFound) {
        // The built-in forms give the years 2000 ... 2099. Any date must be one a TK1 header
        // can hold, and no minute number of 0 or less, which means "no date".
        Expect(rec.Start.Mn > 0);
        if (!pattern) Expect(rec.Start.Mn >= kMinute2000 && rec.Start.Mn < kMinute2100);
        Expect(rec.Start.TimeInMinuteNear2MHz == 0 && rec.Start.Second == 0);
        // The exact start lies in the minute the file is placed at.
        Expect(rec.StartTime.Source != wtk::TimeSource::None);
        Expect(rec.StartTime.Microseconds / wtk::kMicrosecondsPerMinute == rec.Start.Mn);
        Expect(rec.Start.NofNear2MHzToEndOfMinute == rate.TicksPerMinute());
        Expect(rec.DateString.size() == 10 && rec.DateString[4] == ' ' && rec.DateString[7] == ' ');
        const std::string_view date = rec.DateString;
        Expect(Digits(date.substr(0, 4), !pattern) && Digits(date.substr(5, 2), !pattern) &&
               Digits(date.substr(8, 2), !pattern));
    } else {
        Expect(rec.Start.Mn == 0 && rec.Start.TimeInMinuteNear2MHz == 0);
        Expect(rec.StartTime.Source == wtk::TimeSource::None);
    }
    // The file list's line, naming the TK1 file the recording goes into: six cells, one line,
    // valid UTF-8 without control characters.
    const std::string line = wtk::FilesMemoLine(rec, wtk::TK1NameOf("NewFileName", rec));
    Expect(std::count(line.begin(), line.end(), '\t') == 5);
    Expect(line.find_first_of("\r\n") == std::string::npos);
    std::string cells = line;
    std::replace(cells.begin(), cells.end(), '\t', ' ');
    Expect(wtk::PrintableName(cells) == cells && !wtk::HasControlCharacter(cells));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    static wtk::SampleRate rate = [] {
        wtk::SampleRate r;
        r.KsamplesPerSecEditChange("576");
        return r;
    }();
    wtk::NullHost host;
    const size_t nul = input.find('\0');
    const std::string name(nul == std::string_view::npos ? input : input.substr(nul + 1));

    wtk::WavFileRec rec = wtk::BlankWavFileRec;
    rec.NameWithPath = "/recordings/" + name;
    wtk::PutFileStartTimeInWavFileRec(rec, false, rate, host);
    wtk::ApplyIdentityRule(rec, "Site");
    const std::string_view shortName = rec.OriginalShortNameMinusSuffix;
    // The name less ".flac" (any case) for a FLAC file's name, else less its last four characters.
    std::string fileName(wtk::FileNamePart(rec.NameWithPath));
    std::string lastFive = fileName.size() > 5 ? fileName.substr(fileName.size() - 5) : "";
    for (char& ch : lastFive) ch = ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch + 32) : ch;
    Expect(shortName == (lastFive == ".flac" ? fileName.substr(0, fileName.size() - 5)
                                             : wtk::Utf8DropRight(fileName, 4)));
    Expect(shortName.starts_with(rec.IdentityName) || rec.IdentityName == "Site " ||
           rec.IdentityName == "No Name ");
    CheckRecord(rec, rate, false);
    // Placed by the name's own time, a file keeps the date as its name writes it, and its minute.
    wtk::WavFileRec placed = rec;
    wtk::ResolveStartTime(placed, std::nullopt, wtk::TimeSourceChoice::Auto, {}, false, rate);
    Expect(placed.DateString == rec.DateString && placed.Start.Mn == rec.Start.Mn &&
           !placed.Unplaced);

    // The recorders' forms where the built-in form gives no date.
    wtk::WavFileRec recorder = wtk::BlankWavFileRec;
    recorder.NameWithPath = rec.NameWithPath;
    wtk::DateAndIdentityFromName(recorder, false, false, rate, host, "Site");
    if (rec.DateFound) Expect(recorder.Start.Mn == rec.Start.Mn);
    if (recorder.DateFound && !rec.DateFound) {
        Expect(recorder.Start.Mn > 0 && recorder.Start.TimeInMinuteNear2MHz == 0);
        Expect(recorder.StartTime.Microseconds / wtk::kMicrosecondsPerMinute == recorder.Start.Mn);
        Expect(recorder.DateString == wtk::DateStringOf(recorder.Start.Mn));
    }

    if (nul != std::string_view::npos) {
        auto parsed = wtk::NameDatePattern::Parse(input.substr(0, nul));
        if (auto* pattern = std::get_if<wtk::NameDatePattern>(&parsed)) {
            wtk::WavFileRec byPattern = wtk::BlankWavFileRec;
            byPattern.NameWithPath = rec.NameWithPath;
            wtk::ApplyNameDatePattern(byPattern, *pattern, false, rate, host, "Site");
            CheckRecord(byPattern, rate, true);
        } else {
            Expect(!std::get<std::string>(parsed).empty());  // a refusal says why
        }
    }
    // Escaping a name twice changes nothing more.
    const std::string shown = wtk::PrintableName(name);
    Expect(wtk::PrintableName(shown) == shown && !wtk::HasControlCharacter(shown));
    return 0;
}
