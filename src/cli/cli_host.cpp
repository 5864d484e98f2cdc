#include "cli/cli_host.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "base/unfinished_files.h"
#include "base/utf8.h"
#include "session/location_batches.h"
#include "session/progress.h"
#include "session/session.h"

namespace wtk::cli {

volatile std::sig_atomic_t g_stopSignal = 0;

namespace {

extern "C" void OnStopSignal(int sig) {
    if (g_stopSignal != 0) {
        // The second stop: abort at once, without leaving an unfinished file behind.
        RemoveUnfinishedFiles();
        static constexpr char kAborted[] = "\nwavtokeb-cli: aborted, unfinished files removed\n";
        [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, kAborted, sizeof kAborted - 1);
        ::_exit(128 + sig);
    }
    g_stopSignal = sig;
}

}  // namespace

void InstallStopSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigset_t stops;
    sigemptyset(&stops);
    for (const int sig : kStopSignals) {
        sigaddset(&action.sa_mask, sig);  // one handler at a time
        sigaddset(&stops, sig);
    }
    for (const int sig : kStopSignals) ::sigaction(sig, &action, nullptr);
    // A parent may have started the tool with these blocked; a stop sent then must still work.
    sigprocmask(SIG_UNBLOCK, &stops, nullptr);
}

CliHost::CliHost(Verb verb, std::string outDir, std::string minutesPath)
    : verb_(verb),
      outDir_(std::move(outDir)),
      minutesPath_(std::move(minutesPath)),
      terminal_(::isatty(STDERR_FILENO) == 1),
      lastDrawn_(std::chrono::steady_clock::now()) {}

CliHost::~CliHost() {
    if (minutes_ != nullptr && !minutesFile_.IsOpen()) std::fclose(minutes_);
}

void CliHost::Report(const Event& event) {
    switch (event.Kind) {
        case EventKind::DateNotFound:
            if (quiet_) return;
            Message(event.Text);
            Message("wavtokeb-cli: no date from the name of " + event.File +
                    " (try --name-date, e.g. '%Y%m%d_%H%M%S*', or --time-source file)");
            return;
        case EventKind::CenturyIgnored:
        case EventKind::StreamLongerThanHeader:
            if (!quiet_) Message("wavtokeb-cli: " + event.Text);
            return;
        case EventKind::RecordingChanged:
        case EventKind::EarlierFileKept:
        case EventKind::OutputRemoved:
            Message("wavtokeb-cli: " + event.Text);
            return;
        case EventKind::ListingStopped:
        case EventKind::ConversionStopped:
            bigLbl_ = stopText_ = event.Text;
            return;
        default:
            break;
    }
    Message(event.Text);
    // The file named once for the messages about it, and again with a reason.
    const bool name = !event.File.empty() && (!event.NameInText || !event.Reason.empty()) &&
                      (event.File != namedFile_ || !event.Reason.empty());
    if (name) {
        Message("wavtokeb-cli: file concerned: " + event.File +
                (event.Reason.empty() ? "" : ": " + event.Reason));
    }
    namedFile_ = event.File;
}

void CliHost::Message(const std::string& text) {
    // One line: the names a message carries cannot break it (nor the UTF-8 of stderr).
    Emit(kStderr, PrintableName(text) + "\n");
}

void CliHost::StdoutLine(const std::string& line) {
    Emit(kStdout, line + "\r\n");
}

void CliHost::RouteTo(OrderedOutput* merged, size_t group, CliHost* owner) {
    merged_ = merged;
    group_ = group;
    owner_ = owner;
    terminal_ = false;
}

void CliHost::BatchProgressed(size_t group, const BatchProgress& progress) {
    if (combined_ == nullptr) return;
    std::lock_guard lock(outputMutex_);
    stopRequested_ = g_stopSignal != 0;
    ShowProgress(combined_->Update(group, progress));
}

void CliHost::BatchesEnded() {
    if (combined_ == nullptr) return;
    std::lock_guard lock(outputMutex_);
    ShowProgress(combined_->Finish());
}

void CliHost::Emit(Output output, std::string_view bytes) {
    if (merged_ != nullptr) {
        merged_->Write(group_, output, bytes);
    } else {
        Put(output, bytes);
    }
}

void CliHost::Put(size_t output, std::string_view bytes) {
    std::lock_guard lock(outputMutex_);
    switch (output) {
        case kStdout:
        case kStderr: {
            ClearProgress();
            std::FILE* stream = output == kStdout ? stdout : stderr;
            std::fwrite(bytes.data(), 1, bytes.size(), stream);
            std::fflush(stream);
            break;
        }
        case kMinutes:
            if (minutesPath_.empty() || minutesFailed_) break;
            if (minutes_ == nullptr) {
                // A pipe or a device is written as it is; a file is replaced whole at the end.
                struct stat st {};
                errno = 0;
                int err = 0;
                if (::stat(minutesPath_.c_str(), &st) == 0 && !S_ISREG(st.st_mode) &&
                    !S_ISDIR(st.st_mode)) {
                    minutes_ = std::fopen(minutesPath_.c_str(), "wb");
                    err = errno;
                } else if ((err = minutesFile_.Open(minutesPath_)) == 0) {
                    minutes_ = minutesFile_.Stream();
                }
                if (minutes_ == nullptr) {
                    minutesFailed_ = true;
                    Message("wavtokeb-cli: Failed to create minutes file " + minutesPath_ + ": " +
                            ReplacingFileErrorText(err));
                    break;
                }
            }
            std::fwrite(bytes.data(), 1, bytes.size(), minutes_);
            break;
        default:
            break;
    }
}

void CliHost::SetText(Label which, const std::string& text) {
    switch (which) {
        case Label::BigLbl:
            bigLbl_ = text;
            break;
        case Label::StartTimeWarning:
            if (!quiet_) Message("wavtokeb-cli: " + text);
            break;
        default:
            break;
    }
}

void CliHost::AppendMemo(Memo which, const std::string& line) {
    switch (which) {
        case Memo::FilesMemo:
            if (verb_ == Verb::List) StdoutLine(line);
            break;
        case Memo::DataMemo:
            if (verb_ == Verb::Convert || verb_ == Verb::Scrapbook) StdoutLine(line);
            break;
        case Memo::DATA2Memo:
            if (!minutesPath_.empty()) Emit(kMinutes, line + "\r\n");
            break;
    }
}

void CliHost::ProcessMessages() {
    if (g_stopSignal != 0 && !stopRequested_ && session_ != nullptr) {
        stopRequested_ = true;
        session_->RequestStop();
        DrawProgress(true);
    }
    DrawProgress(false);
}

void CliHost::ShowProgress(const BatchProgress& progress) {
    if (owner_ != nullptr) {
        owner_->BatchProgressed(group_, progress);
        return;
    }
    progress_ = progress;
    if (progressEvery_ > 0) {
        const auto periods = static_cast<int64_t>(progress.AudioSecondsDone / 60 / progressEvery_);
        const bool fileBegins = progress.FileNumber != linedFile_ && !progress.Finished;
        if (fileBegins || periods > linedPeriods_ || progress.Finished) {
            linedFile_ = progress.FileNumber;
            linedPeriods_ = periods;
            Message(ProgressText(progress));
        }
    }
    DrawProgress(progress.Finished);
}

std::string CliHost::DestinationName(const std::string& outDir, const std::string& suggested) {
    return outDir.back() == '/' ? outDir + suggested : outDir + "/" + suggested;
}

bool CliHost::MakeOutDir() {
    std::error_code ec;
    std::filesystem::create_directories(outDir_, ec);
    if (!ec) return true;
    Message("wavtokeb-cli: cannot create --out " + outDir_ + ": " + ec.message());
    return false;
}

std::optional<std::string> CliHost::SaveTK1Dialog(const std::string& suggestedName) {
    // The folder is made only now, when every refusal has passed and the batch begins.
    if (outDir_.empty() || !MakeOutDir()) return std::nullopt;
    return DestinationName(outDir_, suggestedName);
}

void CliHost::ClearProgress() {
    if (!progressShown_) return;
    std::fputs("\r\033[K", stderr);
    progressShown_ = false;
}

void CliHost::DrawProgress(bool force) {
    if (!terminal_ || quiet_ || (verb_ != Verb::Convert && verb_ != Verb::Scrapbook) ||
        progress_.FileNumber == 0) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - lastDrawn_ < std::chrono::milliseconds(500)) return;
    lastDrawn_ = now;
    std::string line = "\r\033[K" + ProgressText(progress_);
    if (stopRequested_ && !progress_.Finished) line += " - stopping at the next minute end";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    progressShown_ = true;
}

bool CliHost::Finish(bool succeeded) {
    if (merged_ != nullptr) return true;  // the host that owns the outputs finishes them
    ClearProgress();
    // On a terminal say where a stop took effect (not a message box, so not otherwise shown).
    if (terminal_ && !quiet_ && !stopText_.empty()) {
        std::fprintf(stderr, "%s\n", stopText_.c_str());
    }
    bool ok = !minutesFailed_;
    if (minutes_ != nullptr) {
        int err = 0;
        if (minutesFile_.IsOpen()) {
            // An earlier minutes file is replaced by a run that succeeded only.
            PendingReplacements earlier;
            err = minutesFile_.Commit(overwrite_ ? &earlier : nullptr);
            if (err == ReplacingFile::kReplacesLater) {
                err = 0;
                if (succeeded) {
                    for (const auto& [name, e] : earlier.Replace()) err = e;
                } else {
                    earlier.Keep();
                    Message(
                        "wavtokeb-cli: Earlier file kept, not replaced by this failed "
                        "conversion: " +
                        minutesPath_);
                }
            }
        } else if (std::ferror(minutes_) != 0) {
            err = EIO;
            std::fclose(minutes_);
        } else if (std::fclose(minutes_) != 0) {
            err = errno != 0 ? errno : EIO;
        }
        minutes_ = nullptr;
        if (err != 0) {
            Message("wavtokeb-cli: Failed to write minutes file " + minutesPath_ + ": " +
                    ReplacingFileErrorText(err));
            ok = false;
        }
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        Message(std::string("wavtokeb-cli: Failed to write to standard output: ") +
                std::strerror(errno));
        ok = false;
    }
    return ok;
}

}  // namespace wtk::cli
