// The batch driver: the selected WAV files become one TK1 file per name group, each file placed
// on its group's minute axis by its start minute.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <new>

#include "base/numbers.h"
#include "base/utf8.h"
#include "input/recording_source.h"
#include "session/recordings_row.h"
#include "session/session.h"

namespace wtk {

namespace {

// Asks the kernel to start reading the start of a file that is converted next.
void ReadAhead(const std::vector<WavFileRec>& recs, int32_t from, int32_t n) {
    for (int32_t i = from; i < n; ++i) {
        const std::string& path = recs[static_cast<size_t>(i)].Path();
        if (path.empty()) continue;
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            ::posix_fadvise(fd, 0, 32 << 20, POSIX_FADV_WILLNEED);
            ::close(fd);
        }
        return;
    }
}

}  // namespace

void Session::ConvertBatch() {
    const auto N = static_cast<int32_t>(
        std::min<size_t>(static_cast<size_t>(NofWAVfilesFound), WavFileRecs.size()));

    // Destination.
    const std::optional<std::string> chosen =
        host_.SaveTK1Dialog(SuggestedNameFor(plan_.Settings.Site, FirstListed()));
    if (!chosen || chosen->empty()) {
        host_.Report(Event(EventKind::DestinationCancelled,
                           "No destination directory identified for TK1 files. Process "
                           "aborted."));
        LastOutcome = ReportedOutcome();
        Busy = false;
        return;
    }
    if (!ConfirmPlan(*chosen)) return;
    FPfilePath = std::string(DirectoryPart(*chosen));
    // What a killed run left in the folder.
    RemoveStaleTemporaries(FPfilePath);

    // Buffers for the whole batch, sized from the rate at its start.
    try {
        Processor.AllocateBuffers(host_.HiResSamplesLength());
        Writer.AllocateOutBuf();
    } catch (const std::bad_alloc&) {
        host_.Report(Event(EventKind::OutOfMemory, "Not enough memory for the sample buffers of " +
                                                       std::to_string(rate_.SamplesPerSec / 1000) +
                                                       " k samples/s"));
        CleanupConvertBatch();
        LastOutcome = ReportedOutcome();
        return;
    }
    Detector.SetIpiExport(nullptr);
    if (plan_.Settings.IpiExport) {
        IpiExport.CreateIPIexportFile(*chosen, plan_.Settings.IpiLineLimit, host_);
        // When the file could not be created the batch goes on without export lines.
        if (IpiExport.IPIExportFileOpen) Detector.SetIpiExport(&IpiExport);
    }

    Writer.NofTK1files = 0;
    Writer.NofTK1filesGivenUp = 0;
    Sens.AdjustedDeadBand = Settings.DeadBandSetting;
    Progress.Begin(WavFileRecs, N, rate_.SamplesPerSec, ProgressClock());
    ReportProgress();
    int32_t wavN = 0;
    if (ConvertFiles(wavN) != LoopEnd::Abandoned) {
        if (Writer.TK1Open) Writer.FinaliseTK1File();
        host_.SetText(Label::ConvertBatchBtn, "Create vTKEB files for each location");
        host_.SetText(Label::MakeScrapbookBtn, "Create a single 'TKEB scrapbook' file");
        host_.SetText(Label::ProgressLbl, std::to_string(wavN) + " .wav files converted");
        // The export holds the peaks of every location: of one whose files were given up too.
        if (Writer.NofTK1filesGivenUp > 0) {
            GiveUpIpiExport();
        } else {
            CloseIpiExport();
        }
        CleanupConvertBatch();
    }
    SettleReplacements();
    LastOutcome = ReportedOutcome();
}

void Session::SettleReplacements() {
    Writer.Replacements = nullptr;
    std::vector<TK1Writer::HeldSummary> summaries = std::move(Writer.HeldSummaries);
    Writer.HeldSummaries.clear();
    // The summary lines of the files written, in the order the files were finished.
    auto summarise = [&](const std::vector<std::string>& notWritten) {
        for (const TK1Writer::HeldSummary& h : summaries) {
            if (std::find(notWritten.begin(), notWritten.end(), h.FileName) == notWritten.end()) {
                host_.AppendMemo(Memo::DataMemo, h.Line);
            }
        }
    };
    if (host_.Failed) {
        // Every earlier file stays: those whose new files were finished and those whose were
        // given up or never begun.
        std::vector<std::string> kept = std::move(earlierFiles_);
        std::vector<std::string> given = replacements_.Keep();
        for (std::string& name : given) {
            if (std::find(kept.begin(), kept.end(), name) == kept.end()) kept.push_back(name);
        }
        summarise(given);
        for (const std::string& name : kept) {
            host_.Report(Event(EventKind::EarlierFileKept,
                               "Earlier file kept, not replaced by this failed conversion: " +
                                   PrintableName(name))
                             .About(name, true));
        }
        return;
    }
    earlierFiles_.clear();
    std::vector<std::string> failed;
    for (const auto& [name, err] : replacements_.Replace()) {
        if (err == 0) continue;
        failed.push_back(name);
        host_.Report(Event(EventKind::ReplaceFailed,
                           "Failed to replace " + PrintableName(name) + ": " + std::strerror(err))
                         .About(name, true)
                         .Because(err));
    }
    summarise(failed);
}

Session::LoopEnd Session::ConvertFiles(int32_t& wavN) {
    const auto N = static_cast<int32_t>(
        std::min<size_t>(static_cast<size_t>(NofWAVfilesFound), WavFileRecs.size()));
    std::string CurrentIdentityName;
    bool groupStarted = false;
    for (wavN = 0; wavN < N;) {
        WavFileRec& rec = WavFileRecs[static_cast<size_t>(wavN)];
        // A blank record (a file that could not be opened when it was listed, or one left by a
        // stopped listing) has nothing to convert.
        if (rec.NameWithPath.empty()) {
            ++wavN;
            continue;
        }
        host_.SetText(Label::ProgressLbl,
                      "Wav file " + std::to_string(wavN + 1) + " of " + std::to_string(N));
        host_.SetText(Label::Caption, rec.NameWithPath);
        try {
            if (!groupStarted || CompareUtf16(rec.IdentityName, CurrentIdentityName) != 0) {
                StartNameGroup(rec);
                if (!Writer.TK1Open) {  // the writer has shown why
                    AbandonBatch();
                    return LoopEnd::Abandoned;
                }
                CurrentIdentityName = rec.IdentityName;
                groupStarted = true;
                // The group's first file starts the TK1 file: an undated one at the file's
                // default start minute.
                if (rec.Start.Mn < Writer.TK1min) rec.Start.Mn = Writer.TK1min;
            }

            int64_t size = 0;
            RecordingLayout layout;
            if (!OpenWavFile(rec, size, layout)) {
                AbandonBatch();
                return LoopEnd::Abandoned;
            }
            // A raw file of an XWAV file counts its own bytes.
            const int64_t bytes = rec.Raw.Number > 0 ? rec.Raw.ByteLength : size;
            recordingChanged_ = false;
            CheckRecordingSize(rec, size);
            Writer.BytesInWavNameGroup += bytes;
            Writer.NofWavFilesInNameGroup += 1;
            Progress.FileStarted(wavN, bytes, ProgressSpanOf(layout, size), ProgressClock());
            ReportProgress();

            // Placement on the minute axis.
            if (rec.Start.Mn > Writer.TK1min) {
                // The open minute ends at the first of these records; the minutes between the
                // two files stay empty. Nothing of the detector's last click carries over them.
                Detector.ResetAfterBreak();
                Writer.WriteMinuteRecs(rec.Start.Mn - Writer.TK1min, Sens.DeadBandPlusUplift,
                                       Sens.MinuteScalerX2560);
            } else if (rec.Start.Mn < Writer.TK1min) {
                // The previous file ran past this one's start (or it has no date): its samples
                // continue the open minute.
                rec.Start.Mn = Writer.TK1min + 1;
            }
            if (Writer.IndexFile.IndexFileOpen) {
                Writer.IndexFile.WriteLine(rec.Start.Mn, rec.NameWithPath);
            }
            // The file's first sample lies in the minute the writer has reached, at the tick of
            // its start (the first tick unless files are placed exactly).
            const int64_t placedUs =
                int64_t{Writer.TK1min} * kMicrosecondsPerMinute + rec.Start.MicrosecondInMinute();
            ReadAhead(WavFileRecs, wavN + 1, N);
            Processor.ConvertOneWavFile(*Source, wavN, rec);
            // The effort is what was converted: the samples the recording held, or as far as
            // it could be read or a stop let it go.
            const int64_t converted = Processor.SamplesConverted;
            if (Writer.Recordings.TableOpen) {
                Writer.Recordings.WriteRow(
                    RecordingsTableRow(rec, placedUs, converted, rate_.SamplesPerSec));
            }
            CheckStreamLength(rec, layout, converted);
            // A recording cut short or grown while it was read is converted as far as it was.
            struct stat st {};
            if (::fstat(::fileno(WavFile), &st) == 0) {
                CheckRecordingSize(rec, st.st_size);
                CheckRecordingPlace(rec, st);
            }
            Progress.FileEnded(ProgressClock(), !Processor.StoppedAtMinuteEnd);
            ReportProgress();
        } catch (const TK1WriteError& e) {
            // The TK1 file cannot be completed.
            host_.Report(Event(EventKind::TK1Failure, e.what())
                             .About(Writer.FileName, true)
                             .Because(e.Errno));
            AbandonBatch();
            return LoopEnd::Abandoned;
        } catch (const SideFileWriteError& e) {
            // A side file could not be written: the location's files are given up.
            host_.Report(Event(e.Kind, e.what()).About(e.File, true).Because(e.Errno));
            AbandonBatch();
            return LoopEnd::Abandoned;
        } catch (const std::exception& e) {
            host_.Report(Event(EventKind::InternalError, e.what()));
            AbandonBatch();
            return LoopEnd::Abandoned;
        }
        CloseWavFile();
        host_.ProcessMessages();
        if (STOP) {
            host_.Report(Event(EventKind::ConversionStopped,
                               "File conversion stopped at file " + std::to_string(wavN + 1))
                             .About(rec.NameWithPath));
            host_.AppendNote(Memo::DATA2Memo, StopNote(wavN, rec));
            STOP = false;
            return LoopEnd::Stopped;
        }
        ++wavN;
    }
    return LoopEnd::Completed;
}

std::string Session::StopNote(int32_t wavN, const WavFileRec& rec) const {
    // Minutes are numbered as in the minute lines; a minute end has already moved the writer
    // on to the minute after the one that ended.
    const std::string tk1 = PrintableName(Writer.TK1BriefName);
    const std::string file = std::to_string(wavN + 1);
    std::string where;
    if (Processor.StoppedAtMinuteEnd) {
        where = "at the end of minute " + std::to_string(Sens.MinsInThisTK1File - 1) + " (" +
                MinToDateStr(Writer.TK1min - 1) + ") of " + tk1 + ", in file " + file;
    } else {
        where = "at the end of file " + file + ", in minute " +
                std::to_string(Sens.MinsInThisTK1File) + " (" + MinToDateStr(Writer.TK1min) +
                ") of " + tk1;
    }
    return "Stop took effect " + where + ": " + PrintableName(rec.NameWithPath);
}

void Session::StartNameGroup(const WavFileRec& rec) {
    if (Writer.TK1Open) Writer.FinaliseTK1File();
    Writer.TK1min = rec.Start.Mn != 0 ? rec.Start.Mn : kUndatedStartMin;
    Writer.TK1StartMin = Writer.TK1min;
    Writer.TK1BriefName = TK1BriefNameFor(plan_.Settings.Site, rec);

    TK1HeaderInputs in;
    in.Settings = &Settings;
    in.LoggerNumberText = plan_.Settings.LoggerText;
    in.HighPassFilterIndex = plan_.Settings.HighPassFilterIndex;
    in.MakeSourceLinkageFile = plan_.Settings.SourceLinkage;
    in.MakeRecordingsTable = plan_.Settings.RecordingsTable;
    in.DeadBandPlusUplift = Sens.DeadBandPlusUplift;
    in.MinuteScalerX2560 = Sens.MinuteScalerX2560;
    Writer.CreateTK1file(FPfilePath + Writer.TK1BriefName, in);

    // Gain and threshold carry on; the noisy and quiet runs are counted per TK1 file. No click
    // or echo of another file's recordings reaches this one.
    Detector.ResetAfterBreak();
    Writer.BytesInWavNameGroup = 0;
    Writer.NofWavFilesInNameGroup = 0;
    Sens.MinsInThisTK1File = 0;
    Sens.CurrentNofNoisyMinsInSeq = 0;
    Sens.CurrentNofQuietMinsInSeq = 0;
}

bool Session::OpenWavFile(const WavFileRec& rec, int64_t& size, RecordingLayout& layout) {
    int err = 0;
    // Non-blocking, so that a named pipe put in the file's place cannot hang the batch.
    const int fd = ::open(rec.Path().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        err = errno;
    } else {
        struct stat st {};
        if (::fstat(fd, &st) != 0) {
            err = errno;
        } else if (S_ISDIR(st.st_mode)) {
            err = EISDIR;
        } else if (!S_ISREG(st.st_mode)) {
            err = EINVAL;
        } else {
            const int flags = ::fcntl(fd, F_GETFL);
            if (flags != -1) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
            size = static_cast<int64_t>(st.st_size);
            // Where the samples lie and how they are read, from the header as the file is now
            // and the choices in force.
            layout = LayoutOf(ReadWavHeaderOfFd(fd, size), rec.Raw, plan_.Settings.Read);
            WavFile = ::fdopen(fd, "rb");
            if (WavFile != nullptr) {
                Source = OpenRecordingSource(fd, size, layout);
                WavFileOpen = true;
                return true;
            }
            err = errno;
        }
        ::close(fd);
    }
    if (err == 0) err = EIO;
    host_.Report(Event(EventKind::WavNotOpened, "Failed to open wav file " +
                                                    rec.OriginalShortNameMinusSuffix + ": " +
                                                    std::strerror(err))
                     .About(rec.Path())
                     .Because(err));
    WavFileOpen = false;
    return false;
}

void Session::CheckRecordingSize(const WavFileRec& rec, int64_t size) {
    // Records that were never listed from a file carry no size to compare.
    const int64_t listed = rec.Header.FileSize;
    if (recordingChanged_ || listed <= 0 || size == listed) return;
    recordingChanged_ = true;
    host_.Report(Event(EventKind::RecordingChanged,
                       "Recording changed size since it was listed (" + std::to_string(listed) +
                           " bytes, now " + std::to_string(size) +
                           "), converted as far as it went: " + PrintableName(rec.NameWithPath))
                     .About(rec.Path(), true));
}

void Session::CheckStreamLength(const WavFileRec& rec, const RecordingLayout& layout,
                                int64_t converted) {
    if (layout.Read != RecordingLayout::Reading::Flac || !layout.ToStreamEnd || layout.End < 0 ||
        converted <= layout.Samples() || Processor.StoppedAtMinuteEnd) {
        return;
    }
    host_.Report(Event(EventKind::StreamLongerThanHeader,
                       "FLAC stream longer than its STREAMINFO says (" +
                           std::to_string(layout.Samples()) + " samples), converted to its end (" +
                           std::to_string(converted) + "): " + PrintableName(rec.NameWithPath))
                     .About(rec.Path(), true));
}

void Session::CheckRecordingPlace(const WavFileRec& rec, const struct stat& read) {
    // The outputs name the recording by its path: one that is no longer there cannot be found
    // by them (the conversion itself read the file it had opened to its end).
    struct stat now {};
    if (::stat(rec.Path().c_str(), &now) == 0 && now.st_dev == read.st_dev &&
        now.st_ino == read.st_ino) {
        return;
    }
    host_.Report(Event(EventKind::RecordingChanged,
                       "Recording moved or removed while it was converted, no longer at its "
                       "path: " +
                           PrintableName(rec.NameWithPath))
                     .About(rec.Path(), true));
}

void Session::CloseWavFile() {
    Source.reset();
    if (WavFile != nullptr) std::fclose(WavFile);
    WavFile = nullptr;
    WavFileOpen = false;
}

void Session::CloseIpiExport() {
    Detector.SetIpiExport(nullptr);
    if (!IpiExport.IPIExportFileOpen) return;
    const int err = IpiExport.Close(Writer.Replacements);
    if (err == 0 || err == ReplacingFile::kReplacesLater) return;
    host_.Report(Event(EventKind::IpiExportFailure,
                       "Failed to close IPI export file " + IpiExport.FileName())
                     .About(IpiExport.FileName(), true)
                     .Because(ReplacingFileErrno(err), ReplacingFileErrorText(err)));
}

void Session::AbandonBatch() {
    CloseWavFile();
    // The open TK1 file lacks what the rest of its recordings would have given, and the
    // export what the rest of the batch would have: neither takes its name.
    if (Writer.TK1Open) Writer.GiveUp();
    GiveUpIpiExport();
    CleanupConvertBatch();
}

void Session::GiveUpIpiExport() {
    Detector.SetIpiExport(nullptr);
    if (!IpiExport.Pending()) return;
    IpiExport.Discard();
    ReportRemoved(host_, IpiExport.FileName());
}

void Session::CleanupConvertBatch() {
    Processor.ReleaseBuffers();
    Writer.ReleaseOutBuf();
    Busy = false;
    STOP = false;
    if (Progress.Running()) {
        Progress.Ended(ProgressClock());
        ReportProgress();
    }
}

}  // namespace wtk
