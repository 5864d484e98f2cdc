// The command-line tool's host: message boxes become lines on stderr, the memos go to stdout or
// the minutes file, dialogs are answered from the options, and STOP comes from a signal.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/host.h"
#include "output/replacing_file.h"

namespace wtk {
class CombinedProgress;
class OrderedOutput;
class Session;
}  // namespace wtk

namespace wtk::cli {

// The signals that stop a conversion: the first one received asks for a STOP, which takes
// effect at the next minute end (g_stopSignal holds it; 0: none). A second one, of any of
// them, aborts at once: the unfinished files are removed and the tool exits with 128 + its
// number.
inline constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
extern volatile std::sig_atomic_t g_stopSignal;
void InstallStopSignalHandlers();

// Graphs are not drawn, and every dialog but the save dialog is cancelled, as by the null host.
class CliHost : public NullHost {
public:
    // ListCsv and Locations: list that prints its own table instead of the file list memo.
    enum class Verb { Convert, Scrapbook, List, ListCsv, Locations };

    // outDir: destination of the TK1 files; minutesPath: file for the minute lines ("" none).
    CliHost(Verb verb, std::string outDir, std::string minutesPath);
    ~CliHost() override;

    void SetSession(Session* session) { session_ = session; }
    // Quiet: no progress line and no warnings (the date/time failure texts).
    void SetQuiet(bool quiet) { quiet_ = quiet; }
    // An earlier minutes file may be replaced (--overwrite), by a run that succeeds.
    void SetOverwrite(bool overwrite) { overwrite_ = overwrite; }
    // Progress lines on stderr, terminal or not: one as each file begins, one each time
    // another everyMinutes minutes of audio are done, one at the end.
    void SetProgressLines(int everyMinutes) { progressEvery_ = everyMinutes; }

    // One message line on stderr (also for the tool's own refusals).
    void Message(const std::string& text);
    // A line on stdout with CR LF.
    void StdoutLine(const std::string& line);
    // Ends the progress line and puts the minutes file in place: an earlier one is replaced
    // only after a run that succeeded (else it is kept, and named). Reports failed writes of
    // stdout and the minutes file. Returns false when an output could not be written
    // completely.
    bool Finish(bool succeeded);
    // The folder of the outputs, made with its parents when missing. False (with a message)
    // when it cannot be made.
    bool MakeOutDir();

    // The outputs as OrderedOutput numbers them.
    enum Output : size_t { kStdout, kStderr, kMinutes, kOutputs };
    // A location batch's host: its stdout, stderr and minute lines go to `merged` as group
    // `group` instead of the streams, and its progress to `owner`, the host that owns them.
    void RouteTo(OrderedOutput* merged, size_t group, CliHost* owner);
    // The owner of location batches' outputs shows their progress summed by `combined`.
    void CombineProgress(CombinedProgress* combined) { combined_ = combined; }
    void BatchProgressed(size_t group, const BatchProgress& progress);
    // The last progress of the combined batches, when they have all ended.
    void BatchesEnded();
    // Writes bytes to one of the outputs itself (the sink of an OrderedOutput); the minutes
    // file is created by the first bytes that reach it.
    void Put(size_t output, std::string_view bytes);

    const std::string& BigLblText() const { return bigLbl_; }

    // The name the save dialog answers for a suggested file name: the suggested name in outDir.
    static std::string DestinationName(const std::string& outDir, const std::string& suggested);

    // Host.
    void ShowMessage(const std::string& text) override { Message(text); }
    // The text, then what the kind calls for: the file concerned where the text does not name
    // it (with the reason where the text does not give it), the warnings of listing and
    // conversion, the stop.
    void Report(const Event& event) override;
    void SetText(Label which, const std::string& text) override;
    void AppendMemo(Memo which, const std::string& line) override;
    // Notes beside the file list (inputs skipped) are warnings; the note where a stop took
    // effect is a report, shown as it stands.
    void AppendNote(Memo which, const std::string& line) override {
        Message(which == Memo::FilesMemo ? "wavtokeb-cli: " + line : line);
    }
    void ProcessMessages() override;
    void ShowProgress(const BatchProgress& progress) override;
    std::optional<std::string> SaveTK1Dialog(const std::string& suggestedName) override;

private:
    void Emit(Output output, std::string_view bytes);
    void ClearProgress();
    void DrawProgress(bool force);

    Verb verb_;
    std::string outDir_;
    std::string minutesPath_;
    std::FILE* minutes_ = nullptr;  // minutesFile_'s stream, or a pipe or device written as it is
    ReplacingFile minutesFile_;     // put in place by Finish
    std::string namedFile_;         // the file the last message named
    bool overwrite_ = false;
    std::string stopText_;  // where a stop took effect; "" none did
    bool minutesFailed_ = false;
    Session* session_ = nullptr;
    std::string bigLbl_;
    bool quiet_ = false;
    OrderedOutput* merged_ = nullptr;
    size_t group_ = 0;
    CliHost* owner_ = nullptr;
    CombinedProgress* combined_ = nullptr;
    // The owner's outputs and progress, reached from the batches' threads.
    std::recursive_mutex outputMutex_;

    // Progress: the live line on a terminal, and the progress lines.
    bool terminal_ = false;
    bool progressShown_ = false;
    bool stopRequested_ = false;
    BatchProgress progress_;
    int progressEvery_ = 0;     // minutes of audio between progress lines; 0: no lines
    int32_t linedFile_ = 0;     // the file whose start has had its line
    int64_t linedPeriods_ = 0;  // periods of progressEvery_ minutes that have had their line
    std::chrono::steady_clock::time_point lastDrawn_;
};

}  // namespace wtk::cli
