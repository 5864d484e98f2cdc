// The batch driver: the selected WAV files become one TK1 file per name group, each file placed
// on its group's minute axis by its start minute.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <new>

#include "base/numbers.h"
#include "base/utf8.h"
#include "input/recording_source.h"
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
    const std::optional<std::string> chosen = host_.SaveTK1Dialog(SuggestedTK1Name());
    if (!chosen || chosen->empty()) {
        host_.ShowMessage("No destination directory identified for TK1 files. Process aborted.");
        LastOutcome = Outcome::Refused;
        Busy = false;
        return;
    }
    if (!ConfirmPlan(*chosen)) return;
    FPfilePath = std::string(DirectoryPart(*chosen));
    // What a killed run left in the folder.
    RemoveStaleTemporaries(FPfilePath);

    // Buffers for the whole batch, sized from the rate at its start.
    writerHost_.TK1Damaged = false;
    try {
        Processor.AllocateBuffers(host_.HiResSamplesLength());
        Writer.AllocateOutBuf();
    } catch (const std::bad_alloc&) {
        host_.ShowMessage("Not enough memory for the sample buffers of " +
                          std::to_string(Rate.SamplesPerSec / 1000) + " k samples/s");
        CleanupConvertBatch();
        LastOutcome = Outcome::Failed;
        return;
    }
    Detector.SetIpiExport(nullptr);
    if (ExportIPIandAmpsToText) {
        // The limit text was checked before the batch started.
        const int32_t limit = ParseInt32(SetFm.Get("IPIFileLineLimitEdit")).value_or(0);
        IpiExport.CreateIPIexportFile(*chosen, limit, host_);
        // When the file could not be created the batch goes on without export lines.
        if (IpiExport.IPIExportFileOpen) Detector.SetIpiExport(&IpiExport);
    }

    Writer.NofTK1files = 0;
    Sens.AdjustedDeadBand = Settings.DeadBandSetting;
    Progress.Begin(WavFileRecs, N, Rate.SamplesPerSec, ProgressClock());
    ReportProgress();
    int32_t wavN = 0;
    NofRecordingsCutShort = 0;
    if (ConvertFiles(wavN) == LoopEnd::Abandoned) {
        LastOutcome = Outcome::Failed;
        return;
    }

    if (Writer.TK1Open) Writer.FinaliseTK1File();
    host_.SetText(Label::ConvertBatchBtn, "Create vTKEB files for each location");
    host_.SetText(Label::MakeScrapbookBtn, "Create a single 'TKEB scrapbook' file");
    host_.SetText(Label::ProgressLbl, std::to_string(wavN) + " .wav files converted");
    const bool exportClosed = CloseIpiExport();
    CleanupConvertBatch();
    LastOutcome = writerHost_.TK1Damaged || !exportClosed || NofRecordingsCutShort > 0
                      ? Outcome::Failed
                      : Outcome::Done;
}

bool Session::ConfirmPlan(const std::string& chosen) {
    const BatchPlan plan = PlanBatch(chosen, Scrapbook, false);
    bool go = true;
    if (!plan.Unfit.empty()) {
        std::string text;
        for (const std::string& line : plan.Unfit) text += (text.empty() ? "" : "\n") + line;
        host_.ShowMessage(text);
        go = false;
    } else if (AskBeforeWriting) {
        go = plan.LongGaps.empty() || host_.AskYesNo(LongGapQuestion(plan.LongGaps));
        if (go) {
            const std::vector<std::string> existing = ExistingFiles(plan.Outputs);
            go = existing.empty() || host_.AskYesNo(ReplaceQuestion(existing));
        }
    }
    if (!go) {
        LastOutcome = Outcome::Refused;
        Busy = false;
    }
    return go;
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
                    AbandonBatch(false);
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
                AbandonBatch(false);
                return LoopEnd::Abandoned;
            }
            // A raw file of an XWAV file counts its own bytes.
            const int64_t bytes = rec.Raw.Number > 0 ? rec.Raw.ByteLength : size;
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
            if (Writer.Recordings.TableOpen) {
                // The file's first sample lies in the minute the writer has reached, at the
                // tick of its start second (the first tick unless files are placed exactly).
                const int64_t placedUs = int64_t{Writer.TK1min} * kMicrosecondsPerMinute +
                                         int64_t{rec.Start.Second} * kMicrosecondsPerSecond;
                Writer.Recordings.WriteRow(
                    RecordingsTableRow(rec, placedUs, layout.Samples(), Rate.SamplesPerSec));
            }
            ReadAhead(WavFileRecs, wavN + 1, N);
            Processor.ConvertOneWavFile(*Source, wavN, rec);
            if (Processor.ReadFailed) ++NofRecordingsCutShort;
            Progress.FileEnded(ProgressClock());
            ReportProgress();
        } catch (const TK1WriteError& e) {
            // The TK1 file cannot be completed.
            host_.ShowMessage(e.what());
            AbandonBatch(true);
            return LoopEnd::Abandoned;
        } catch (const std::exception& e) {
            // A side file could not be written: keep what the TK1 file holds.
            host_.ShowMessage(e.what());
            AbandonBatch(false);
            return LoopEnd::Abandoned;
        }
        CloseWavFile();
        host_.ProcessMessages();
        if (STOP) {
            host_.SetText(Label::BigLbl,
                          "File conversion stopped at file " + std::to_string(wavN + 1));
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
    Writer.TK1BriefName = TK1BriefNameFor(rec);

    TK1HeaderInputs in;
    in.Settings = &Settings;
    in.LoggerNumberText = Controls.LoggerNumberEdit;
    in.HighPassFilterIndex = ParseInt32(SetFm.Get("HighPassFilterCombo")).value_or(-1);
    in.MakeSourceLinkageFile = Controls.MakeSourceLinkageFile;
    in.MakeRecordingsTable = Controls.MakeRecordingsTable;
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
            layout = LayoutOf(ReadWavHeaderOfFd(fd, size), rec.Raw,
                              {Controls.ToSixteenBit, Controls.Channel});
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
    host_.ShowMessage("Failed to open wav file " + rec.OriginalShortNameMinusSuffix +
                      std::strerror(err != 0 ? err : EIO));
    WavFileOpen = false;
    return false;
}

void Session::CloseWavFile() {
    Source.reset();
    if (WavFile != nullptr) std::fclose(WavFile);
    WavFile = nullptr;
    WavFileOpen = false;
}

bool Session::CloseIpiExport() {
    Detector.SetIpiExport(nullptr);
    if (!IpiExport.IPIExportFileOpen) return true;
    if (IpiExport.Close()) return true;
    host_.ShowMessage("Failed to close IPI export file " + IpiExport.FileName());
    return false;
}

void Session::AbandonBatch(bool closeTK1Unfinished) {
    CloseWavFile();
    if (Writer.TK1Open) {
        if (closeTK1Unfinished) {
            Writer.CloseUnfinished();
        } else {
            Writer.FinaliseTK1File();
        }
    }
    if (closeTK1Unfinished) {
        // The export of a batch whose TK1 file is given up is given up with it.
        Detector.SetIpiExport(nullptr);
        IpiExport.Discard();
    } else {
        CloseIpiExport();
    }
    CleanupConvertBatch();
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
