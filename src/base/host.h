// The one interface through which the engine talks to whoever hosts it: the desktop window,
// the command-line tool or a test. Calls happen per block, per minute and per file, never per
// sample, so a virtual call here costs nothing measurable.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "base/batch_progress.h"

namespace wtk {

// Texts the engine sets: labels, button captions and the main window's caption.
enum class Label {
    BigLbl,            // status line of selection and conversion
    ProgressLbl,       // per-file / per-minute progress; redrawn at once when set
    Caption,           // the main window's caption (the WAV file being converted)
    SelectBatchBtn,    // caption of "Select WAV files", doubles as a progress counter
    ConvertBatchBtn,   // caption of the per-location conversion button
    MakeScrapbookBtn,  // caption of the scrapbook button
    DateFailureFile,   // the file whose name gave the date/time failure text just put in
                       // ProgressLbl (its full path)
    StartTimeWarning,  // a listed recording's start time is doubtful: its name and its own
                       // time disagree, it overlaps the next recording of its location, or it
                       // cannot be placed; and the listing's notes on start times (names read
                       // as local time) and locations (taken from folders)
};

enum class Memo {
    FilesMemo,  // file list: header and one line per selected WAV file
    DataMemo,   // one line per finished TK1 file
    DATA2Memo,  // one line per converted minute
};

// What a report is about. Front ends act on the kind (the exit status, the file they name, the
// line saying where a stop took effect) and show the text as the core made it.
enum class EventKind {
    // Refusals before anything is written.
    SettingsRefused,       // the rate, a setting, the logger number, the site name, a pattern
    DestinationCancelled,  // no destination folder was chosen
    OutputsRefused,        // outputs the plan refuses (minutes a header cannot count, a name
                           // too long for the folder)
    // Failures: the conversion did not do all it was asked.
    NoFilesListed,           // a conversion with nothing listed
    OutOfMemory,             // the batch's buffers could not be had
    WavNotOpened,            // a recording could not be opened when its turn came
    WavReadFailed,           // reading a recording failed part of the way
    RecordingChanged,        // a recording's size is not what it was when it was listed
    TK1Failure,              // a TK1 file could not be created, written or put in place
    LinkageFailure,          // the same for a source-linkage file
    IpiExportFailure,        // the same for the IPI export file
    RecordingsTableFailure,  // the same for the recordings table beside a TK1 file
    ReplaceFailed,           // a complete file could not replace the earlier one at the batch's end
    InternalError,           // something the conversion did not foresee ended the batch
    // Reports with no bearing on the outcome.
    EarlierFileKept,  // a failed batch left an earlier file as it was instead of replacing it
    OutputRemoved,    // an output of a failed batch was removed unfinished, not written
    // A FLAC stream held more samples than its STREAMINFO says.
    StreamLongerThanHeader,
    NoFilesSelected,    // the selection dialog was cancelled
    InputNotOpened,     // a file of the selection could not be opened, so it is not listed
    DateNotFound,       // a name gave no start time
    CenturyIgnored,     // a name's century digits are not those the name form assumes
    ListingStopped,     // STOP ended a selection listing
    ConversionStopped,  // STOP took effect in a conversion
};

// One report: the text the window shows for it, and what a front end needs to act on it.
struct Event {
    Event() = default;
    Event(EventKind kind, std::string text) : Kind(kind), Text(std::move(text)) {}
    // The file concerned; nameInText: Text names it itself.
    Event& About(std::string file, bool nameInText = false) {
        File = std::move(file);
        NameInText = nameInText;
        return *this;
    }
    // The system's error number behind it, and why in words where Text does not say it.
    Event& Because(int err, std::string reason = {}) {
        Errno = err;
        Reason = std::move(reason);
        return *this;
    }

    EventKind Kind = EventKind::InternalError;
    std::string Text;         // the message as it stands
    std::string File;         // the file concerned (full path), "" where none is
    bool NameInText = false;  // Text names File itself
    int Errno = 0;            // the system's error number behind it, 0 where none is
    std::string Reason;       // why, where Text does not say it ("" where it does or none is known)
};

// A conversion that reported an event of this kind did not do everything it was asked.
bool FailsConversion(EventKind kind);
// A conversion that reported an event of this kind was refused before it wrote anything.
bool RefusesConversion(EventKind kind);

class Host {
public:
    virtual ~Host() = default;

    // A modal message box; returns when the user has acknowledged it.
    virtual void ShowMessage(const std::string& text) = 0;
    // A report of the core. By default its text goes where the window shows such a report: a
    // message box, the status line (a stop), the progress label (a date failure, followed by
    // Label::DateFailureFile) or a note beside a memo.
    virtual void Report(const Event& event);
    virtual void SetText(Label which, const std::string& text) = 0;
    virtual void AppendMemo(Memo which, const std::string& line) = 0;
    // A line about the run that belongs beside a memo's lines without being one of them (an
    // input that was skipped, where a stop took effect): the window appends it to that memo,
    // the command line writes it to stderr.
    virtual void AppendNote(Memo which, const std::string& line) = 0;
    // Handle pending user events. A STOP press reaches the engine from inside this call.
    virtual void ProcessMessages() = 0;
    // Where the batch stands: at its start, at each file's start and end, at each minute end
    // and when it ends. Hosts that show no progress ignore it.
    virtual void ShowProgress(const BatchProgress& /*progress*/) {}

    // Draw one trace. GraphID 1 raw samples, 2 high-pass output, 3 band-pass output.
    virtual void Graphvals(std::span<const int32_t> Buf, int GraphID, int Xinc,
                           bool ClearFirst) = 0;
    // Length of the third trace's buffer: (screen width - control panel width) div 2.
    virtual int32_t HiResSamplesLength() = 0;

    // Dialogs. An empty result means the user cancelled.
    virtual std::optional<std::string> SaveTK1Dialog(const std::string& suggestedName) = 0;
    virtual bool AskYesNo(const std::string& question) = 0;
    // A modal choice of one of the texts of choices, under a question: the index of the one
    // chosen, or none when cancelled (a host that cannot ask cancels).
    virtual std::optional<int> AskChoice(const std::string& /*question*/,
                                         const std::vector<std::string>& /*choices*/) {
        return std::nullopt;
    }
    virtual std::optional<std::vector<std::string>> OpenFilesDialog(const std::string& title,
                                                                    const std::string& filter) = 0;
    virtual std::optional<std::string> ChooseDirectory(const std::string& caption) = 0;
    virtual void HideSettingsWindow() = 0;
};

// A host that shows nothing and answers every dialog with "cancel".
class NullHost : public Host {
public:
    void ShowMessage(const std::string&) override {}
    void SetText(Label, const std::string&) override {}
    void AppendMemo(Memo, const std::string&) override {}
    void AppendNote(Memo, const std::string&) override {}
    void ProcessMessages() override {}
    void Graphvals(std::span<const int32_t>, int, int, bool) override {}
    int32_t HiResSamplesLength() override { return 500; }
    std::optional<std::string> SaveTK1Dialog(const std::string&) override { return std::nullopt; }
    bool AskYesNo(const std::string&) override { return false; }
    std::optional<std::vector<std::string>> OpenFilesDialog(const std::string&,
                                                            const std::string&) override {
        return std::nullopt;
    }
    std::optional<std::string> ChooseDirectory(const std::string&) override { return std::nullopt; }
    void HideSettingsWindow() override {}
};

}  // namespace wtk
