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

std::string MinToDateStr(int32_t m) {
    const FloorDivision day = FloorDivide(m, kMinutesPerDay);
    const CivilDate date = CivilFromDayNumber(day.Quotient);
    std::string s;
    s.reserve(20);
    AppendZeroPadded(s, date.Day, 1);
    s += '/';
    AppendZeroPadded(s, date.Month, 1);
    s += '/';
    AppendZeroPadded(s, date.Year, 4);
    s += ' ';
    AppendZeroPadded(s, day.Remainder / 60, 2);
    s += ':';
    AppendZeroPadded(s, day.Remainder % 60, 2);
    return s;
}

int32_t LocalNowMinute() {
    const std::time_t t = std::time(nullptr);
    std::tm lt{};
    if (localtime_r(&t, &lt) == nullptr) return 0;
    const int64_t days = DayNumberFromCivil(lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday);
    const int64_t secs = days * kSecondsPerDay + lt.tm_hour * 3600 + lt.tm_min * 60 + lt.tm_sec;
    const int64_t mins = RoundHalfEven(static_cast<double>(secs) / 60.0);
    return static_cast<int32_t>(std::clamp<int64_t>(mins, 0, std::numeric_limits<int32_t>::max()));
}

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

bool TK1Writer::CloseUnfinished() {
    // Nothing of an unfinished file reaches its final name, nor its source-linkage file.
    out_.Discard();
    IndexFile.Discard();
    Recordings.Discard();
    TK1Open = false;
    OutBufPtr = 0;
    return true;
}

void TK1Writer::PutSettingsIntoTK1Header(const TK1HeaderInputs& in) {
    tk1::Header h;
    h.LoggerNumber =
        static_cast<uint32_t>(std::max(ParseInt32(in.LoggerNumberText).value_or(9999), 0));
    h.HighPassFilterIndex = std::max(in.HighPassFilterIndex, 0);
    h.StartMin = static_cast<uint32_t>(std::max(TK1StartMin, 0));
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
    tk1::PutCreationFields({OutBuf.data(), OutBuf.size()}, h);
}

// The header carries no user text.
void TK1Writer::PutUserTextIntoTK1Header() {}

void TK1Writer::Failure(const std::string& text, int err, const std::string& reason) {
    host_.Report(Event(EventKind::TK1Failure, text).About(FileName).Because(err, reason));
}

void TK1Writer::CreateTK1file(const std::string& name, const TK1HeaderInputs& in) {
    if (TK1Open) {
        Failure("TK1 open = error");
        if (!CloseUnfinished()) Failure("Failed to close TK1file");
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
        Failure("Failed to write TK1 header" + std::to_string(err), err);
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
    host_.AppendMemo(Memo::DataMemo,
                     PrintableName(TK1BriefName) + "\t" + std::to_string(NofWavFilesInNameGroup) +
                         "\t" + std::to_string(CompressionFigure(BytesInWavNameGroup, fileBytes)));

    // Only a complete file takes its name, and its side files with it; a taken name only
    // through Replacements.
    if (writeFailed_) {
        out_.Discard();
        IndexFile.Discard();
        Recordings.Discard();
        Failure("Failed to finalise TK1File");
    } else if (const int err = out_.Commit(Replacements);
               err != 0 && err != ReplacingFile::kReplacesLater) {
        IndexFile.Discard();
        Recordings.Discard();
        Failure("Failed to finalise TK1File", ReplacingFileErrno(err), ReplacingFileErrorText(err));
    } else {
        auto placed = [&](int e, EventKind kind, const std::string& name) {
            if (e == 0 || e == ReplacingFile::kReplacesLater) return;
            host_.Report(Event(kind, "Failed to finalise TK1File")
                             .About(name)
                             .Because(ReplacingFileErrno(e), ReplacingFileErrorText(e)));
        };
        placed(IndexFile.Close(Replacements), EventKind::LinkageFailure, IndexFile.FileName());
        placed(Recordings.Close(Replacements), EventKind::RecordingsTableFailure,
               Recordings.FileName());
    }
    TK1Open = false;
}

}  // namespace wtk
