// Start time and location from a WAV file's name.
//
// Expected name: LocationOrInstrumentNumber.yyyymmddhhmmss.wav. The parser works from the end
// of the name by character positions (Unicode code points) and relies on the four-character
// extension (a FLAC file's ".flac" counts as one); the century digits are never read (the
// years 2000 ... 2099). Every parsed file is
// placed at the first tick of its named minute; the seconds digits, where they are a second,
// give only its exact start time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/calendar.h"
#include "input/wav_file_rec.h"

namespace wtk {

class Host;
struct SampleRate;

// Fills Start, DateString and DateFound of rec from the file name in rec.NameWithPath. A name
// that is too short, has a field that is not a non-negative integer, or names an impossible date
// blanks the start (SetBlankRecord) and shows "Date/time conversion failed (D2) ..." in the
// progress label. While Scrapbook is set every record is blanked without any text.
// Rate supplies IPIscaler and the minute length in ticks.
void PutFileStartTimeInWavFileRec(WavFileRec& rec, bool Scrapbook, const SampleRate& Rate,
                                  Host& host);

// Blanks the start of rec (no date) and, unless Scrapbook, shows in the progress label the text
// "Date/time conversion failed (D2) " with the fields taken from the name so far, then names the
// file (Label::DateFailureFile).
void SetBlankRecord(WavFileRec& rec, bool Scrapbook, Host& host, const std::string& YearStr,
                    const std::string& MonthStr, const std::string& DayStr,
                    const std::string& HrStr, const std::string& MinStr);

// The names many recorders write, where the built-in form gives no date:
// LOCATION_YYYYMMDD_HHMMSS[_...] and YYYYMMDD_HHMMSS[_...] (before the extension). Fills Start,
// DateString, DateFound and StartTime (seconds included) and returns true; the identity is the
// location, or without one the name of the folder holding the file. Returns false, leaving rec
// as it was, for any other name.
bool PutRecorderNameStartInWavFileRec(WavFileRec& rec, const SampleRate& Rate,
                                      std::string_view AddedSiteNameEdit);

// The date and identity a name gives: the built-in form (and the identity rule), else the
// recorders' forms above, else no date with the failure text (none while Scrapbook or quiet).
void DateAndIdentityFromName(WavFileRec& rec, bool Scrapbook, bool quiet, const SampleRate& Rate,
                             Host& host, std::string_view AddedSiteNameEdit);

// The folder holding a file, as an identity: "" for none ("." and ".." give none).
std::string_view FolderName(std::string_view path);

// True when a short name (the name less its extension) gives the identity rule no location:
// it holds no "." and has at most 9 characters, so the rule falls back to the site name.
bool ShortNameGivesNoLocation(std::string_view Short);

// Sets OriginalShortNameMinusSuffix (the name less its extension: its last four characters, or
// ".flac") and IdentityName from the file name: the text before the first "." of the short
// name; else all but its last 9 characters; else the site name and a space; else "No Name ".
void ApplyIdentityRule(WavFileRec& rec, std::string_view AddedSiteNameEdit);

}  // namespace wtk
