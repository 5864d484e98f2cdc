// Dates and locations from names that other recorders write, by a pattern such as
// "{location}_%Y%m%d_%H%M%S*" for PAM_20210610_033655_123.wav.
//
// A pattern is matched against the whole file name without its extension (the text from the
// last "." on). Fields: %Y four digits, %y two digits (2000 ... 2099), %m %d %H %M %S two digits
// each, {location} one or more characters of any kind (the location or identity name), * any
// text, %% a "%"; every other character stands for itself. Year, month, day, hour and minute
// must each appear once; the seconds give the exact start time but, as with the built-in forms,
// do not place the file (it starts at the first tick of its minute). Where text fields could split
// a name in more than one way, each takes as little as it can.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "input/wav_file_rec.h"

namespace wtk {

class Host;
struct SampleRate;

class NameDatePattern {
public:
    // The pattern of text, or the reason it is refused ("%x is no field ...").
    static std::variant<NameDatePattern, std::string> Parse(std::string_view text);

    // The digits and text of a matching name; the digit fields are as they stand in the name
    // ("" for a field the pattern lacks).
    struct Match {
        std::string Year;  // four digits (%y: "20" and its two)
        std::string Month, Day, Hour, Minute, Second;
        std::optional<std::string> Location;
    };
    std::optional<Match> MatchName(std::string_view nameWithoutExtension) const;

    bool HasLocation() const { return hasLocation_; }

private:
    enum class Kind { Literal, Digits, Location, Any };
    struct Token {
        Kind kind;
        std::string text;  // Literal: the characters; Digits: the field letter
    };
    bool MatchFrom(size_t token, std::string_view name, size_t pos, Match& m,
                   std::vector<uint8_t>& failed) const;

    std::vector<Token> tokens_;
    bool hasLocation_ = false;
};

// Start, DateString, DateFound, OriginalShortNameMinusSuffix and IdentityName of rec by the
// pattern. A name that does not match, or names an impossible date, gets no date and the
// progress text "Date/time conversion failed (D2) ..." as with the built-in forms (while
// Scrapbook is set, silently). The identity is the {location} text; for a pattern without it,
// the name of the folder holding the file; where neither gives one, the built-in identity rule.
// quiet: no failure text (the file has a time of its own).
void ApplyNameDatePattern(WavFileRec& rec, const NameDatePattern& pattern, bool Scrapbook,
                          const SampleRate& Rate, Host& host, std::string_view AddedSiteNameEdit,
                          bool quiet = false);

}  // namespace wtk
