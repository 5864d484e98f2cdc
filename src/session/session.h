// The converter's whole state for one run of a front end (window, command-line tool or test):
// the two windows' controls as models, the selected WAV file table, and the engine behind them.
// Front ends list files (SelectPaths, SelectBatchBtnClick), plan a batch of them (PlanBatch:
// the refusals and the settings read once), run the plan (RunPlan) and may request a stop
// (RequestStop); the main window's commands are thin adapters over these. Everything runs on
// the caller's thread; long commands call Host::ProcessMessages at the fixed points (after each
// listed file, after each converted file, at each minute end), where STOP can be pressed.
//
// While a command runs (Busy), the selection, the two conversion buttons and the sample-rate
// change are refused without effect, so that nothing pressed at a message-processing point can
// resize or release the buffers of the running batch. The front end must not destroy the
// session from inside Host::ProcessMessages; FormDestroy called there only requests a STOP.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "base/host.h"
#include "base/main_controls.h"
#include "base/sample_rate.h"
#include "detector/click_detector.h"
#include "engine/sample_processor.h"
#include "input/recording_source.h"
#include "input/start_times.h"
#include "input/wav_file_rec.h"
#include "input/wav_header.h"
#include "output/side_files.h"
#include "output/tk1_writer.h"
#include "session/batch_plan.h"
#include "session/earlier_outputs.h"
#include "session/forwarding_host.h"
#include "session/progress.h"
#include "settings/detector_settings.h"
#include "settings/sensitivity.h"
#include "settings/settings_form.h"

namespace wtk {

struct SelectionContext;

class Session {
private:
    // Everything the session and its engine report passes here on its way to the front end's
    // host, which notes what the reports mean for the command that runs.
    class OutcomeHost : public ForwardingHost {
    public:
        using ForwardingHost::ForwardingHost;
        void Report(const Event& event) override;
        bool Failed = false;   // a report of a failure came since Clear
        bool Refused = false;  // a report of a refusal came since Clear
        void Clear() { Failed = Refused = false; }

        // While a listing is held, what it shows (the file list's lines and notes, the warnings
        // beside it, the reports) waits, so that questions about the files come first and a
        // listing read again with the answers is the only one shown. Show puts out what
        // waits, Drop forgets it; either ends the hold.
        void HoldListing() { holding_ = true; }
        void ShowListing();
        void DropListing();
        void SetText(Label which, const std::string& text) override;
        void AppendMemo(Memo which, const std::string& line) override;
        void AppendNote(Memo which, const std::string& line) override;

    private:
        struct Held {
            enum class What { Report, Text, Memo, Note } Kind;
            Event Reported;
            Label Which = Label::BigLbl;
            Memo In = Memo::FilesMemo;
            std::string Line;
        };
        bool holding_ = false;
        std::vector<Held> held_;
    };

    // Given to the engine, whose one point of processing messages is the minute end: there it
    // counts the minute in the batch's progress and reports it first.
    class EngineHost : public ForwardingHost {
    public:
        EngineHost(Host& host, Session& session) : ForwardingHost(host), session_(session) {}
        void ProcessMessages() override;

    private:
        Session& session_;
    };

    OutcomeHost host_;       // declared before the engine's objects, which keep references
    EngineHost engineHost_;  // to these two

public:
    explicit Session(Host& host);
    ~Session();  // closes whatever is open (FormDestroy)
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Start-up after the front end has set the controls: the sample-rate tables for the rate
    // text, then the settings window's creation ("normal operation" preset, ApplySettings).
    void Start();
    // Closes whatever is open and releases the buffers; called while Busy (from inside a
    // command) it only requests a stop.
    void FormDestroy();

    // ---- Conversion ----
    //
    // A batch is planned, then run: PlanBatch refuses what the buttons refuse before anything
    // is written, RunPlan asks for the destination and converts. Between the two a front end
    // may work out the batch's outputs (PlanOutputs) and settle what it asks about itself.

    // The settings a batch would run with, from the two windows' models as they are now, and
    // checked in this order: the sample-rate text (the rate tables are recomputed from it),
    // ApplySettings (the setting variables then hold the applied values), a negative logger
    // number, with the IPI export the line limit, and a site name that holds a slash, a
    // backslash or a control character. Returns the settings or the first refusal's message;
    // reports nothing. The IPI export is the box as the listing latched it (before any file
    // is listed, the box as it is).
    std::variant<BatchSettings, std::string> ReadBatchSettings();

    // Plans a batch of the listed files. In this order: a per-location batch hides the
    // settings window; no files listed is refused (NoFilesListed); a listing whose controls
    // changed since is read again; the settings are read (ReadBatchSettings; SettingsRefused).
    // A refusal is reported and gives LastOutcome; the plan is then not Ready. While Busy the
    // plan is not Ready and nothing is reported. Nothing is written.
    BatchPlan PlanBatch(BatchKind kind);

    // What the plan would write with the destination dialog's answer `chosen` (its folder, and
    // the IPI export file's name), the files placed as the driver will place them.
    // exportPerGroup: each location has an IPI export file of its own, named after its first
    // file (the location batches of the command line). Reads only.
    PlannedOutputs PlanOutputs(const BatchPlan& plan, const std::string& chosen,
                               bool exportPerGroup = false) const;

    // The name the destination dialog suggests: site, location and date of the first listed
    // file.
    std::string SuggestedTK1Name() const;

    // For a run that resumes an earlier one, location by location. recs: the listed records
    // of one location (as SplitIntoLocations gives them), converted as a batch of their own
    // into the folder of `chosen`. The names of the files such a batch writes; what an earlier
    // run left of them (judged with the settings last applied); and the summary line of the
    // data memo for its TK1 file as it is there.
    static LocationOutputNames OutputNamesOf(const BatchPlan& plan, const std::string& chosen,
                                             const WavFileRec& first);
    EarlierOutputs JudgeEarlierOutputs(const BatchPlan& plan, const std::string& chosen,
                                       std::span<const WavFileRec> recs) const;
    std::string SummaryLineOf(const BatchPlan& plan, const std::string& chosen,
                              std::span<const WavFileRec> recs) const;

    // Runs a Ready plan (any other does nothing): the scrapbook layout (the listed records take
    // the scrapbook's minutes), the memo headers, the destination from the host's save dialog
    // (DestinationCancelled), the refusal of unfit outputs (OutputsRefused) and, where the plan
    // asks, the questions about long gaps and files to replace; then the batch. Busy while it
    // runs; LastOutcome tells how it ended.
    // Calls Host::ProcessMessages after each file and at each minute end.
    void RunPlan(BatchPlan plan);

    // Asks the running batch to stop: it takes effect at the next minute end or file end,
    // where the TK1 file is finalised. Safe to call from Host::ProcessMessages.
    void RequestStop() { STOP = true; }

    // How the last conversion command ended.
    enum class Outcome {
        Done,     // converted (possibly stopped by the user)
        Refused,  // refused before anything was written (rate, settings, logger number, line
                  // limit, destination dialog cancelled, outputs refused, a question answered
                  // No)
        Failed,   // did not do all it was asked: no files listed, a WAV file could not be
                  // opened, or read or decoded to its end, or changed since it was listed, an
                  // output could not be created, written completely or put under its name
    };
    Outcome LastOutcome = Outcome::Done;

    // ---- Main window commands ----
    void KsamplesPerSecEditChange();  // reads Controls.KsamplesPerSecEdit; refused while Busy
    void SelectBatchBtnClick();       // the dialogs of the host
    // The two conversions: PlanBatch, then RunPlan with the window's questions.
    void ConvertBatchBtnClick() { RunPlan(PlanBatch(BatchKind::PerLocation)); }
    void MakeScrapbookBtnClick() { RunPlan(PlanBatch(BatchKind::Scrapbook)); }

    // ---- Selection ----

    // The selection with the dialogs replaced by paths (command-line tool): a directory is
    // searched like directory mode, any other path is taken as the file dialog takes it. With
    // a location, only that location's files are kept, counted and listed.
    void SelectPaths(const std::vector<std::string>& paths,
                     const std::string* onlyLocation = nullptr);
    // A selection made elsewhere (one location of another session's listing): the table as it
    // is, with the IPI-export box latched as a listing latches it. Nothing is shown.
    void SelectRecords(WavFileRecTable recs);
    // The listing's controls (name pattern, time source, exact start, rate, site name, date
    // box, read options) changed since it was made; a conversion lists the files again first.
    bool SelectionOutdated() const;

    // The name-date pattern of Controls.NameDatePatternEdit: the refusal message when it does
    // not parse (an empty pattern, the built-in forms, is fine).
    std::optional<std::string> CheckNameDatePattern() const;

    // The format check of the listed files, for the window. ReportFormatFindings: after a
    // selection, the questions whether to turn samples into 16-bit ones (Yes sets
    // Controls.ToSixteenBit) and which channel to read (Controls.Channel), then one message box
    // naming the files that hold no samples the converter can read, those that still need a
    // choice, those with fewer channels than the one chosen and those whose header gives
    // another rate than the typed one; where every fit file gives the same valid rate, the box
    // asks whether to take it (Yes sets Controls.KsamplesPerSecEdit and the rate tables).
    // ConfirmUnfitFiles: before a conversion, the questions again; true when they were
    // answered, no file has fewer channels than the one chosen, and no unreadable file is
    // listed or the user answers Yes to converting them anyway.
    void ReportFormatFindings();
    // Files dropped on the window: listed as the select button lists them, then the format
    // check; the list is shown once, after the questions.
    void DropPaths(const std::vector<std::string>& paths);
    bool ConfirmUnfitFiles();

    // The sample-rate text of Controls.KsamplesPerSecEdit: recomputes the rate tables and
    // returns the refusal message when it is not a whole number in the valid range.
    std::optional<std::string> CheckSampleRate();

    // ---- State front ends read ----

    // The rate tables of the rate text last read, and the setting variables last applied.
    const SampleRate& Rate() const { return rate_; }
    const DetectorSettings& AppliedSettings() const { return Settings; }
    // No command runs, no file is open and no buffer is held.
    bool Idle() const;

    // How the engine runs, for tools and tests; applied at once. Threads: filter ahead on a
    // second thread (default: where there are several processors). PieceSamples: samples of
    // one piece of a block (0: the engine's own). NowMinute: the finalisation time of the TK1
    // headers (empty: the wall clock).
    struct EngineOptions {
        std::optional<bool> Threads;
        int32_t PieceSamples = 0;
        std::function<int32_t()> NowMinute;
    };
    void Tune(const EngineOptions& options);

    // Seconds on a steady clock, for the progress of batches (tests may replace it).
    std::function<double()> ProgressClock;

    // Window models.
    MainControls Controls;
    SettingsForm SetFm;

    // Corrections of the recorders' clocks, added to every start time a selection reads.
    TimeCorrections Corrections;

    // Selection.
    WavFileRecTable WavFileRecs;
    int32_t NofWAVfilesFound = 0;
    // Inputs of the last selection that were named or found but could not be listed (files
    // not opened, directories not searched): none of them is converted.
    int32_t NofInputsSkipped = 0;

    // A selection or conversion runs; STOP: a stop was requested and has not taken effect.
    bool Busy = false;
    bool STOP = false;

private:
    friend struct SessionProbe;  // tests that stand in for what a recording would do

    // What ends the loop over the files.
    enum class LoopEnd { Completed, Stopped, Abandoned };

    // The selection's view of this session: its controls, rate, flags and file table.
    SelectionContext MakeSelectionContext();
    // The listed files read again, with the controls as they are now: a new listing of the
    // same files. Nothing while Busy, nor for a rate text that is no rate (the conversion
    // refuses it) or a pattern that does not parse.
    void RereadSelection();
    // The questions of ReportFormatFindings and ConfirmUnfitFiles, then (reread) the files
    // listed again with the choices made; false when one was declined.
    bool AskFormatChoices(bool reread = true);
    // The questions and the message box of ReportFormatFindings.
    void AskAndReportFormats();

    // The settings windows' values as they stand, unchecked: the one place that reads them
    // for a batch.
    BatchSettings SettingsNow() const;
    // The scrapbook layout: consecutive minutes from kScrapbookStartMin, tick 1, and the name
    // that the open-failure message shows.
    void LayOutScrapbook();
    void ConvertBatch();
    LoopEnd ConvertFiles(int32_t& wavN);
    void StartNameGroup(const WavFileRec& rec);
    // "<site> <location> <date>.TK1" and the TK1 file's name "<site><location> <date>.TK1".
    static std::string SuggestedNameFor(const std::string& site, const WavFileRec& rec);
    static std::string TK1BriefNameFor(const std::string& site, const WavFileRec& rec);
    // The first listed record with a file (a blank one when there is none).
    const WavFileRec& FirstListed() const;
    // The plan's refusal and questions, asked after the destination is known. False: the
    // batch does not start (Busy cleared, LastOutcome Refused).
    bool ConfirmPlan(const std::string& chosen);
    // The line saying in which file and minute a stop took effect.
    std::string StopNote(int32_t wavN, const WavFileRec& rec) const;
    // Opens the recording's file and its source; size receives the file's size, layout which
    // of its samples are read and how.
    bool OpenWavFile(const WavFileRec& rec, int64_t& size, RecordingLayout& layout);
    void CloseWavFile();
    // A recording whose size is not the one it was listed with is reported, once.
    void CheckRecordingSize(const WavFileRec& rec, int64_t size);
    // A recording no longer at its path after it was read (read: the file that was read) is
    // reported; so is (as a warning) a FLAC stream that held more samples than its STREAMINFO
    // says, of which `converted` were converted.
    void CheckRecordingPlace(const WavFileRec& rec, const struct stat& read);
    void CheckStreamLength(const WavFileRec& rec, const RecordingLayout& layout, int64_t converted);
    void CloseIpiExport();  // a failure is reported
    // The finished files that wait for their earlier files to be replaced: put in place after a
    // batch that succeeded, removed (each named) after one that failed.
    void SettleReplacements();
    // The outcome the reports since the command began give.
    Outcome ReportedOutcome() const;
    // Abandons the batch after a failure: closes the WAV file, gives up the open TK1 file with
    // its side files and the IPI export (each removed, and named), releases the buffers. The
    // files finished before stay.
    void AbandonBatch();
    // Removes the IPI export unfinished, and names it.
    void GiveUpIpiExport();
    void CleanupConvertBatch();
    // Passes where the batch stands to the host.
    void ReportProgress();

    // Engine state: the rate tables, the setting variables and the engine's objects.
    SampleRate rate_;
    DetectorSettings Settings;
    Sensitivity Sens;
    TK1Writer Writer;
    IpiExportFile IpiExport;
    ClickDetector Detector;
    SampleProcessor Processor;

    // The running (or last) batch: its plan, destination folder and progress, which is
    // reported to the host at the start and end of the batch and of each file and at each
    // minute end.
    BatchPlan plan_;
    std::string FPfilePath;
    ProgressTracker Progress;
    bool Scrapbook = false;  // the last conversion was a scrapbook: a listing blanks starts
    bool ExportIPIandAmpsToText = false;  // the IPI-export box as the last listing latched it
    bool WavFileOpen = false;
    std::FILE* WavFile = nullptr;
    std::unique_ptr<RecordingSource> Source;  // the samples of WavFile being converted
    PendingReplacements replacements_;
    std::vector<std::string> earlierFiles_;  // outputs there already that the batch may replace
    bool recordingChanged_ = false;          // the current file's change has been reported

    // The controls the last listing read (see RereadSelection).
    struct ListingInputs {
        std::string Pattern, Rate, Site;
        int TimeSource = 0;
        bool ExactStart = false, Dates = true;
        ReadOptions Read;
        bool operator==(const ListingInputs&) const = default;
    };
    ListingInputs ListingInputsNow() const;
    ListingInputs listedWith_;
};

}  // namespace wtk
