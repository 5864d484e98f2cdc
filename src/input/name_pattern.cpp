#include "input/name_pattern.h"

#include <array>

#include "base/host.h"
#include "base/numbers.h"
#include "base/sample_rate.h"
#include "base/utf8.h"
#include "input/name_parsing.h"

namespace wtk {
namespace {

constexpr const char* kFields = "the fields are %Y %y %m %d %H %M %S {location} * and %%";

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A UTF-8 continuation byte: no character starts there.
bool InsideCharacter(std::string_view s, size_t pos) {
    return pos < s.size() && (static_cast<unsigned char>(s[pos]) & 0xC0) == 0x80;
}

}  // namespace

std::variant<NameDatePattern, std::string> NameDatePattern::Parse(std::string_view text) {
    const std::string refused = "Name-date pattern \"" + std::string(text) + "\": ";
    NameDatePattern p;
    auto literal = [&](std::string_view chars) {
        if (p.tokens_.empty() || p.tokens_.back().kind != Kind::Literal) {
            p.tokens_.push_back({Kind::Literal, ""});
        }
        p.tokens_.back().text += chars;
    };
    std::array<int, 128> count{};
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            const char f = i + 1 < text.size() ? text[i + 1] : '\0';
            ++i;
            if (f == '%') {
                literal("%");
            } else if (f == 'Y' || f == 'y' || f == 'm' || f == 'd' || f == 'H' || f == 'M' ||
                       f == 'S') {
                if (++count[static_cast<unsigned char>(f)] > 1) {
                    return refused + "%" + f + " appears twice";
                }
                p.tokens_.push_back({Kind::Digits, std::string(1, f)});
            } else {
                const std::string given =
                    f == '\0' ? "%" : std::string(Utf8Left(text.substr(i - 1), 2));
                return refused + "\"" + given + "\" is no field; " + kFields;
            }
        } else if (c == '{') {
            const size_t close = text.find('}', i);
            const std::string_view field = text.substr(
                i, close == std::string_view::npos ? std::string_view::npos : close - i + 1);
            if (field != "{location}") {
                return refused + "\"" + std::string(field) + "\" is no field; " + kFields;
            }
            if (p.hasLocation_) return refused + "{location} appears twice";
            p.hasLocation_ = true;
            p.tokens_.push_back({Kind::Location, ""});
            i = close;
        } else if (c == '*') {
            if (p.tokens_.empty() || p.tokens_.back().kind != Kind::Any) {
                p.tokens_.push_back({Kind::Any, ""});
            }
        } else {
            literal(text.substr(i, 1));
        }
    }
    if (count['Y'] + count['y'] > 1) return refused + "%Y and %y both give the year";
    if (count['Y'] + count['y'] == 0) return refused + "the year (%Y or %y) is missing";
    for (const auto& [f, what] : {std::pair{'m', "month (%m)"}, std::pair{'d', "day (%d)"},
                                  std::pair{'H', "hour (%H)"}, std::pair{'M', "minute (%M)"}}) {
        if (count[static_cast<unsigned char>(f)] == 0) {
            return refused + "the " + what + " is missing";
        }
    }
    return p;
}

bool NameDatePattern::MatchFrom(size_t t, std::string_view name, size_t pos, Match& m,
                                std::vector<uint8_t>& failed) const {
    if (t == tokens_.size()) return pos == name.size();
    uint8_t& known = failed[t * (name.size() + 1) + pos];
    if (known != 0) return false;
    const Token& tok = tokens_[t];
    bool ok = false;
    switch (tok.kind) {
        case Kind::Literal:
            ok = name.substr(pos).starts_with(tok.text) &&
                 MatchFrom(t + 1, name, pos + tok.text.size(), m, failed);
            break;
        case Kind::Digits: {
            const size_t n = tok.text[0] == 'Y' ? 4 : 2;
            if (pos + n > name.size()) break;
            const std::string_view digits = name.substr(pos, n);
            bool all = true;
            for (char c : digits) all = all && IsDigit(c);
            if (!all) break;
            std::string value(digits);
            switch (tok.text[0]) {
                case 'Y':
                    m.Year = value;
                    break;
                case 'y':
                    m.Year = "20" + value;
                    break;
                case 'm':
                    m.Month = value;
                    break;
                case 'd':
                    m.Day = value;
                    break;
                case 'H':
                    m.Hour = value;
                    break;
                case 'M':
                    m.Minute = value;
                    break;
                default:
                    m.Second = value;
                    break;
            }
            ok = MatchFrom(t + 1, name, pos + n, m, failed);
            break;
        }
        case Kind::Location:
        case Kind::Any:
            // As little text as will do; a location is at least one character.
            for (size_t end = tok.kind == Kind::Location ? pos + 1 : pos; end <= name.size();
                 ++end) {
                if (InsideCharacter(name, end)) continue;
                if (MatchFrom(t + 1, name, end, m, failed)) {
                    if (tok.kind == Kind::Location)
                        m.Location = std::string(name.substr(pos, end - pos));
                    ok = true;
                    break;
                }
            }
            break;
    }
    if (!ok) known = 1;
    return ok;
}

std::optional<NameDatePattern::Match> NameDatePattern::MatchName(
    std::string_view nameWithoutExtension) const {
    Match m;
    std::vector<uint8_t> failed((tokens_.size() + 1) * (nameWithoutExtension.size() + 1), 0);
    if (!MatchFrom(0, nameWithoutExtension, 0, m, failed)) return std::nullopt;
    return m;
}

void ApplyNameDatePattern(WavFileRec& rec, const NameDatePattern& pattern, bool Scrapbook,
                          const SampleRate& Rate, Host& host, std::string_view AddedSiteNameEdit,
                          bool quiet) {
    rec.Start.Mn = 0;
    rec.Start.TimeInMinuteNear2MHz = 0;
    const std::string_view Fname = FileNamePart(rec.NameWithPath);
    const size_t dot = Fname.rfind('.');
    const std::string_view stem = dot == std::string_view::npos ? Fname : Fname.substr(0, dot);
    const std::optional<NameDatePattern::Match> m = pattern.MatchName(stem);

    // The identity: the location text, or the folder's name; else the built-in rule.
    ApplyIdentityRule(rec, AddedSiteNameEdit);
    if (pattern.HasLocation()) {
        if (m) rec.IdentityName = *m->Location;
    } else {
        const std::string_view folder = FolderName(rec.NameWithPath);
        if (!folder.empty()) rec.IdentityName = folder;
    }

    if (!m || Scrapbook) {
        SetBlankRecord(rec, Scrapbook || quiet, host, "", "", "", "", "");
        return;
    }
    const auto Year = ParseInt32(m->Year);
    const auto Month = ParseInt32(m->Month);
    const auto Day = ParseInt32(m->Day);
    const auto Hr = ParseInt32(m->Hour);
    const auto Min = ParseInt32(m->Minute);
    const std::optional<int32_t> Mn = Year && Month && Day && Hr && Min
                                          ? EncodeMinuteNumber(*Year, *Month, *Day, *Hr, *Min)
                                          : std::nullopt;
    // A minute number of 0 or less would read as "no date" (or a minute the TK1 header cannot
    // hold): a %Y before the minute numbers begin gives no date.
    if (!Mn || *Mn <= 0) {
        SetBlankRecord(rec, Scrapbook || quiet, host, m->Year, m->Month, m->Day, m->Hour,
                       m->Minute);
        return;
    }
    rec.DateString = m->Year + " " + m->Month + " " + m->Day;
    rec.Start.Mn = *Mn;
    rec.Start.TimeInMinuteNear2MHz = 0;
    rec.Start.NofNear2MHzToEndOfMinute = Rate.IPIscaler > 0 ? Rate.TicksPerMinute() : 0;
    rec.DateFound = true;
    // The seconds, where the pattern has them and they are a second, give the exact start.
    const auto Sec = m->Second.empty() ? std::optional<int32_t>(0) : ParseInt32(m->Second);
    const int64_t secs = Sec && *Sec >= 0 && *Sec < 60 ? *Sec : 0;
    rec.StartTime = {int64_t{*Mn} * kMicrosecondsPerMinute + secs * kMicrosecondsPerSecond, false,
                     TimeSource::Pattern};
}

}  // namespace wtk
