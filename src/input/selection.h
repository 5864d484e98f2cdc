// Selecting WAV files: the dialogs or the given paths, one record per file, the sorts that make
// every location one contiguous name group, the group count, and the file list memo lines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "input/dir_search.h"
#include "input/wav_file_rec.h"

namespace wtk {

class Host;
struct MainControls;
struct SampleRate;
struct TimeCorrections;

// What a selection reads and changes. The references point at the front end's own state, so
// a STOP pressed inside Host::ProcessMessages reaches the listing.
struct SelectionContext {
    Host& host;
    const MainControls& Controls;   // site name, date box, search-directories box
    const SampleRate& Rate;         // SamplesPerSec for durations, minute length for starts
    bool Scrapbook;                 // set by the last conversion: blanks every start silently
    bool MakeIPIexportFileChecked;  // the settings window's IPI-export box
    bool& Busy;
    bool& STOP;
    bool& ExportIPIandAmpsToText;  // latched from MakeIPIexportFileChecked
    WavFileRecTable& WavFileRecs;
    int32_t& NofWAVfilesFound;
    // When set, the sorted table keeps only this location's files before they are counted and
    // listed.
    const std::string* OnlyLocation = nullptr;
    // When set, receives the number of inputs that were named or found but not listed: files
    // that could not be opened, directories that could not be searched, entries that could not
    // be examined.
    int32_t* NofInputsSkipped = nullptr;
    // Corrections of the recorders' clocks, added to every start time (none when null).
    const TimeCorrections* Corrections = nullptr;
};

// Texts of the selection.
inline constexpr const char* kOpenDialogFilter =
    "Recordings|*.wav *.flac|WAV files|*.wav|FLAC files|*.flac|All files|*.*";
inline constexpr const char* kOpenDialogTitle = "Select one or more files";
inline constexpr const char* kDirectoryDialogTitle =
    "Find WAV files in a directory and its subdirectories";
inline constexpr const char* kDirectoryQuestion =
    "Do you wish to select all files in a directory and its sub-directories?";

// The "Select WAV files" button: dialogs, listing, sorts, group count and memo lines. Does
// nothing while Busy.
void SelectBatchBtnClick(SelectionContext& c);

// The selection with the dialogs replaced by paths, taken in order: a path that is a directory
// (or a link to one) is searched like directory mode; any other path is taken as the file
// dialog takes it, without extension or size test. Does nothing while Busy.
void SelectPaths(SelectionContext& c, const std::vector<std::string>& paths);

// The header (with the size in bytes) of a file that can be opened for reading; empty for
// anything else (missing, unreadable, a directory, a pipe or device, a dangling link).
std::optional<WavHeader> OpenedFileHeader(const std::string& path);

// A file as a listing reads it: its header, and the raw files of an XWAV file (none for any
// other) or why its harp chunk cannot be taken.
struct ListedFile {
    WavHeader Header;
    std::vector<RawFile> Raws;
    std::string HarpProblem;
};
std::optional<ListedFile> OpenedListedFile(const std::string& path);

// The paths a list of arguments stands for (the expansion SelectPaths makes), each file once
// however many times it is named; what the directory searches could not read is added to
// skipped.
StringList ExpandSelectionPaths(const std::vector<std::string>& paths,
                                StringList* skipped = nullptr);

// From a list of full paths to the sorted, counted and listed table: the select-button counter,
// one record per path, or per raw file of an XWAV file ("PATH#N", starting at its own time:
// the harp chunk's, or the name's time moved by as much as the raw file starts after the
// first), with its size, duration, the choices of Controls (to 16 bits, a channel), and while
// the date box is ticked the start time from the name and the file's own, as the time-source
// choice takes them, corrected; STOP after each file, the sorts, the location kept
// (OnlyLocation), the BigLbl result and the memo lines, then a note beside the file list for
// each text of skipped (what the search could not read) and the warnings (a name's and a
// file's own time far apart, recordings of a location that overlap, a harp chunk that cannot be
// taken); clears Busy and STOP.
void ListWavFiles(SelectionContext& c, const StringList& ListOfLongNames,
                  const StringList& skipped = {});

// Playing time in ms of a file of SizeBytes at SamplesPerSec: ((size div 2) - 44) x 1000 /
// SamplesPerSec, rounded half to even (0 while no rate is set; limited to the int32 range).
int32_t DurationMsFromSize(int64_t SizeBytes, int32_t SamplesPerSec);
// The duration a listed record shows: a 16-bit file of one channel's from its size up to the
// end of its data chunk (the whole file where the chunk runs to its end, as always); the
// samples read of any other (a raw file, converted samples, a FLAC stream), in ms.
int32_t DurationMsOf(const WavFileRec& rec, int32_t SamplesPerSec);

// DurationMs / 1000 with two decimals, rounded half away from zero: 2605 -> "2.61".
std::string DurationCell(int32_t DurationMs);

// The file list memo's header line and the line of one record (tab-separated cells), whose
// last cell is the name of the TK1 file it goes into ("" for a blank record).
std::string FilesMemoHeader();
std::string FilesMemoLine(const WavFileRec& rec, const std::string& tk1Name);

// The name of the TK1 file of the location whose first file is `first`: the site name, its
// identity name, a blank, its date string and ".TK1".
std::string TK1NameOf(const std::string& site, const WavFileRec& first);

// Stable sorts of the table: by IdentityName (ordinal UTF-16), then by start inside each run of
// equal names. The order is that of repeated passes exchanging strictly out-of-order neighbours.
void SortWavFileRecsByName(WavFileRecTable& recs);
void SortWavFileRecsByTime(WavFileRecTable& recs);

// Number of name groups, each a TK1 file: the first record's group and every change of
// IdentityName in table order after it, among the records that have a file (a group of empty
// names counts like any other; blank records count in none).
int32_t CountNameGroups(const WavFileRecTable& recs);

}  // namespace wtk
