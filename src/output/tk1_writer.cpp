#include "output/tk1_writer.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <limits>

#include "base/calendar.h"
#include "base/host.h"
#include "base/numbers.h"
#include "base/utf8.h"
#include "settings/detector_settings.h"

namespace wtk {
namespace {

std::string SystemErrorText(int err) {
    return std::strerror(err);
}

// Write n bytes and push them to the system, so that a failure shows here.
bool WriteAll(std::FILE* f, const uint8_t* data, size_t n) {
    if (n > 0 && std::fwrite(data, 1, n, f) != n) return false;
    return std::fflush(f) == 0;
}

}  // namespace

int64_t CompressionFigure(int64_t BytesInWavNameGroup, int64_t TK1FileBytes) {
    if (TK1FileBytes <= 0) return 0;
    return BytesInWavNameGroup / (16 * TK1FileBytes);
}

TK1Writer::TK1Writer(Host& host) : NowMinute(LocalNowMinute), host_(host) {}

TK1Writer::~TK1Writer() {
    if (out_.IsOpen()) CloseUnfinished();
}

void TK1Writer::AllocateOutBuf() {
    OutBuf.assign(constOutBufBytes, 0);
    OutBufPtr = 0;
}

void TK1Writer::ReleaseOutBuf() {
    std::vector<uint8_t>().swap(OutBuf);
    OutBufPtr = 0;
}

void TK1Writer::FlushFullBuffer() {
    if (OutBuf.size() != static_cast<size_t>(constOutBufBytes)) {
        throw std::logic_error("TK1 output buffer used before it was allocated");
    }
    assert(OutBufPtr == constOutBufBytes);
    if (!out_.IsOpen()) {
        throw TK1WriteError("Failed to write TK1 file " + FileName + ": the file is not open");
    }
    errno = 0;
    if (!WriteAll(out_.Stream(), OutBuf.data(), constOutBufBytes)) {
        const int err = errno;
        throw TK1WriteError("Failed to write TK1 file " + FileName + ": " +
                                (err != 0 ? SystemErrorText(err) : std::string("write error")),
                            err);
    }
    OutBufPtr = 0;
}

void TK1Writer::WriteMinuteRecs(int32_t NofMins, uint8_t DeadBandPlusUplift,
                                int32_t MinuteScalerX2560) {
    assert(NofMins >= 0);
    assert(MinuteScalerX2560 >= 0 && MinuteScalerX2560 <= 255);
    if (NofMins <= 0) return;
    if (NofMins > kMaxMinuteRecords - MinsWritten) {
        throw TK1WriteError("TK1 file " + FileName + " cannot count more than " +
                            std::to_string(kMaxMinuteRecords) + " minutes");
    }
    TK1min += NofMins;
    MinsWritten += NofMins;
    const TK1Record rec = tk1::EncodeMinute(
        {DeadBandPlusUplift, static_cast<uint8_t>(std::clamp<int32_t>(MinuteScalerX2560, 0, 255))});
    for (int32_t k = 0; k < NofMins; ++k) StoreRecord(rec);
}

void TK1Writer::CloseUnfinished() {
    // Nothing of an unfinished file reaches its final name, nor its source-linkage file.
    out_.Discard();
    IndexFile.Discard();
    Recordings.Discard();
    TK1Open = false;
    OutBufPtr = 0;
}

void PutCreationHeader(std::span<uint8_t> header, const TK1HeaderInputs& in, int32_t startMin) {
    tk1::Header h;
    h.LoggerNumber =
        static_cast<uint32_t>(std::max(ParseInt32(in.LoggerNumberText).value_or(9999), 0));
    h.HighPassFilterIndex = std::max(in.HighPassFilterIndex, 0);
    h.StartMin = static_cast<uint32_t>(std::max(startMin, 0));
    if (const DetectorSettings* s = in.Settings) {
        h.DeadBandSetting = s->DeadBandSetting;
        h.MinAnyIPI = s->MinAnyIPI;
        h.MaxStartIPI = s->MaxStartIPI;
        h.FixedCycLimit = s->FixedCycLimit;
        h.MaxSPLforReversalTest = s->MaxSPLforReversalTest;
        h.BwAddon = s->BwAddon;
        h.WorkingStrongLimit = {s->WorkingStrongLimit1, s->WorkingStrongLimit2,
                                s->WorkingStrongLimit3, s->WorkingStrongLimit4};
        h.UsingToughAmpDrop = s->UsingToughAmpDrop;
        h.UserMaxSPLforBWtestLow4 = s->UserMaxSPLforBWtest & 15;
        h.MaxSPLforAmpDropTest = s->MaxSPLforAmpDropTest;
        h.NoisyLevel = s->NoisyLevelClkCount / 256;
        h.QuietLevel = s->QuietLevelClkCount / 256;
        h.NofNoisyMinsForAction = s->NofNoisyMinsForAction;
        h.NofQuietMinsForAction = s->NofQuietMinsForAction;
        h.AmpStep = s->AmpStep;
    }
    assert(in.Settings != nullptr);
    tk1::PutCreationFields(header, h);
}

void TK1Writer::PutSettingsIntoTK1Header(const TK1HeaderInputs& in) {
    PutCreationHeader({OutBuf.data(), OutBuf.size()}, in, TK1StartMin);
}

// The header carries no user text.
void TK1Writer::PutUserTextIntoTK1Header() {}

void TK1Writer::Failure(const std::string& text, int err, const std::string& reason) {
    host_.Report(Event(EventKind::TK1Failure, text).About(FileName).Because(err, reason));
}

void TK1Writer::CreateTK1file(const std::string& name, const TK1HeaderInputs& in) {
    if (TK1Open) {
        Failure("TK1 open = error");
        CloseUnfinished();
    }
    if (OutBuf.size() != static_cast<size_t>(constOutBufBytes)) AllocateOutBuf();
    OutBufPtr = 0;
    FileName = name;

    writeFailed_ = false;
    if (const int err = out_.Open(name); err != 0) {
        Failure("TK1 open failed " + ReplacingFileErrorText(err), ReplacingFileErrno(err));
        TK1Open = false;
        return;
    }
    TK1Open = true;
    if (in.MakeSourceLinkageFile) {
        IndexFile.CreateIndexFile(name, host_);
    } else {
        IndexFile.Close();
    }
    if (in.MakeRecordingsTable) {
        Recordings.Create(name, host_);
    } else {
        Recordings.Close();
    }

    // Header block: header (with the start minute) and lead minute record.
    std::fill(OutBuf.begin(), OutBuf.begin() + tk1::kHeaderBlockBytes, uint8_t{0});
    PutSettingsIntoTK1Header(in);
    PutUserTextIntoTK1Header();
    const TK1Record lead = tk1::LeadRecord();
    std::copy(lead.begin(), lead.end(), OutBuf.begin() + tk1::kHeaderBytes);

    errno = 0;
    if (!WriteAll(out_.Stream(), OutBuf.data(), tk1::kHeaderBlockBytes)) {
        const int err = errno;
        writeFailed_ = true;
        // The error number in decimal, and what it means.
        Failure("Failed to write TK1 header: error " + std::to_string(err) + " (" +
                    (err != 0 ? SystemErrorText(err) : std::string("write error")) + ")",
                err);
    }

    OutBufPtr = 0;
    MinsWritten = 0;
    WriteMinuteRecs(1, in.DeadBandPlusUplift, in.MinuteScalerX2560);
    TK1min -= 1;
}

void TK1Writer::WriteLastLoggingMinToTK1file() {
    std::FILE* file = out_.Stream();
    assert(file != nullptr);
    if (file == nullptr) return;
    size_t got = 0;
    if (std::fseek(file, 0, SEEK_SET) == 0) {
        got = std::fread(OutBuf.data(), 1, constTK1HdrBytes, file);
    }
    const int64_t last = std::clamp<int64_t>(int64_t{TK1StartMin} + MinsWritten, TK1StartMin,
                                             std::numeric_limits<int32_t>::max());
    tk1::PutFinalisationFields({OutBuf.data(), OutBuf.size()}, static_cast<int32_t>(last),
                               NowMinute ? NowMinute() : LocalNowMinute(),
                               std::max(MinsWritten, 1));
    // A header that cannot be read back whole cannot be patched either.
    bool ok = got == static_cast<size_t>(constTK1HdrBytes);
    ok = std::fseek(file, 0, SEEK_SET) == 0 && ok;
    ok = WriteAll(file, OutBuf.data(), got) && ok;
    if (!ok) {
        writeFailed_ = true;
        Failure("Failed to write to TK1 header");
    }
}

void TK1Writer::FinaliseTK1File() {
    if (!TK1Open || !out_.IsOpen()) return;  // nothing open: nothing to finalise
    ++NofTK1files;
    assert(OutBuf.size() == static_cast<size_t>(constOutBufBytes));
    std::FILE* file = out_.Stream();
    bool ok = WriteAll(file, OutBuf.data(), static_cast<size_t>(OutBufPtr));
    OutBufPtr = 0;
    const TK1Record end = tk1::EndRecord();
    ok = WriteAll(file, end.data(), end.size()) && ok;
    if (!ok) {
        writeFailed_ = true;
        Failure("BlockWrite failed in FinaliseTK1File");
    }

    WriteLastLoggingMinToTK1file();

    int64_t fileBytes = 0;
    if (std::fseek(file, 0, SEEK_END) == 0) fileBytes = std::max<long>(std::ftell(file), 0);
    const std::string summary = PrintableName(TK1BriefName) + "\t" +
                                std::to_string(NofWavFilesInNameGroup) + "\t" +
                                std::to_string(CompressionFigure(BytesInWavNameGroup, fileBytes));
    TK1Open = false;

    // The file and its side files take their names together or not at all: each one whole on
    // the disk first (where a full disk shows), then their names.
    if (writeFailed_) {
        Failure("Failed to finalise TK1File");
        GiveUp();
        return;
    }
    // A step that failed removes its own file; the others not yet in place go with it.
    auto failed = [&](int e, EventKind kind, const std::string& name) {
        if (e == 0 || e == ReplacingFile::kReplacesLater) return false;
        host_.Report(Event(kind, "Failed to finalise TK1File")
                         .About(name)
                         .Because(ReplacingFileErrno(e), ReplacingFileErrorText(e)));
        GiveUp(name);
        return true;
    };
    if (failed(out_.Finish(), EventKind::TK1Failure, FileName) ||
        failed(IndexFile.Finish(), EventKind::LinkageFailure, IndexFile.FileName()) ||
        failed(Recordings.Finish(), EventKind::RecordingsTableFailure, Recordings.FileName())) {
        return;
    }
    // The TK1 file first: side files never stand without it (one whose name another run
    // takes meanwhile is named, and the TK1 file stays).
    const int placed = out_.Place(Replacements);
    if (failed(placed, EventKind::TK1Failure, FileName)) return;
    if (failed(IndexFile.Place(Replacements), EventKind::LinkageFailure, IndexFile.FileName()) ||
        failed(Recordings.Place(Replacements), EventKind::RecordingsTableFailure,
               Recordings.FileName())) {
        return;
    }
    // A summary line for each file written: one that waits to replace an earlier file has its
    // line once the batch has ended (and the lines after it wait with it, to keep their order).
    const bool waits = placed == ReplacingFile::kReplacesLater;
    if (waits || !HeldSummaries.empty()) {
        HeldSummaries.push_back({FileName, summary, waits});
    } else {
        host_.AppendMemo(Memo::DataMemo, summary);
    }
}

void TK1Writer::GiveUp(const std::string& gone) {
    // Named before they go: what is removed is what the run does not deliver.
    std::vector<std::string> removed;
    if (out_.Pending() || (!gone.empty() && gone == FileName)) {
        removed.push_back(FileName);
        ++NofTK1filesGivenUp;
    }
    if (IndexFile.Pending() || (!gone.empty() && gone == IndexFile.FileName())) {
        removed.push_back(IndexFile.FileName());
    }
    if (Recordings.Pending() || (!gone.empty() && gone == Recordings.FileName())) {
        removed.push_back(Recordings.FileName());
    }
    CloseUnfinished();
    for (const std::string& name : removed) ReportRemoved(host_, name);
}

void ReportRemoved(Host& host, const std::string& name) {
    host.Report(Event(EventKind::OutputRemoved, "Removed, not written: " + PrintableName(name))
                    .About(name, true));
}

}  // namespace wtk
