// The TK1 writer: header block, 16-byte body records collected in one 64 KiB output buffer
// that is written out only when a record needs room, minute records, and finalisation.
//
// The layout of what it writes is output/tk1_codec.h's.
#pragma once

#include <array>
#include <cassert>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/calendar.h"
#include "output/recordings_table.h"
#include "output/replacing_file.h"
#include "output/side_files.h"
#include "output/tk1_codec.h"

namespace wtk {

class Host;
struct DetectorSettings;

using TK1Record = tk1::Record;

// A full-buffer write failed. what() names the file and the system's error text. The TK1 file
// cannot be completed; the caller closes it unfinished (CloseUnfinished) and ends the batch.
class TK1WriteError : public std::runtime_error {
public:
    explicit TK1WriteError(const std::string& what, int err = 0)
        : std::runtime_error(what), Errno(err) {}
    int Errno;  // the system's error number, 0 where none is behind it
};

using tk1::Int32toBuffer;

// The report that an output was removed unfinished instead of taking its name.
void ReportRemoved(Host& host, const std::string& name);

// The summary line's compression figure: WAV bytes div (16 x TK1 file bytes); 0 for an empty
// file.
int64_t CompressionFigure(int64_t BytesInWavNameGroup, int64_t TK1FileBytes);

// What the header takes besides the setting variables.
struct TK1HeaderInputs {
    const DetectorSettings* Settings = nullptr;
    std::string LoggerNumberText;  // "Logger ID number" field; text that does not convert: 9999
    int HighPassFilterIndex = 0;   // item index of the high-pass filter list; negative gives 0
    bool MakeSourceLinkageFile = false;
    bool MakeRecordingsTable = false;
    // What the first counted minute record carries (the sensitivity state at creation).
    uint8_t DeadBandPlusUplift = 0;
    int32_t MinuteScalerX2560 = 0;  // 0..255
};

// What a file's creation stores in the header (header: at least tk1::kHeaderBytes zeroed
// bytes), for a file that starts at startMin.
void PutCreationHeader(std::span<uint8_t> header, const TK1HeaderInputs& in, int32_t startMin);

class TK1Writer {
public:
    static constexpr int32_t constTK1HdrBytes = tk1::kHeaderBytes;
    static constexpr int32_t constOutBufBytes = 65536;
    static constexpr int32_t constHiOutBuf = 65535;
    static constexpr int32_t kMaxMinuteRecords = tk1::kMaxMinuteRecords;

    explicit TK1Writer(Host& host);
    ~TK1Writer();
    TK1Writer(const TK1Writer&) = delete;
    TK1Writer& operator=(const TK1Writer&) = delete;

    // The buffer lives for one batch: allocated zero-filled at its start, released at its end.
    void AllocateOutBuf();
    void ReleaseOutBuf();

    // Create the file, write the header block and buffer the first counted minute record. The
    // file is written under a temporary name beside name and takes that name when it is
    // finalised: at once when the name is free, else through Replacements. TK1StartMin and TK1min
    // must be set before; the buffer is allocated here if the batch has not done so. A file still
    // open is first closed unfinished ("TK1 open = error"). On failure the message "TK1 open failed
    // ..." and TK1Open stays false.
    void CreateTK1file(const std::string& name, const TK1HeaderInputs& in);

    // Append NofMins minute records carrying the threshold uplift and the scaler byte that
    // govern the minute each record opens; advances TK1min and MinsWritten. Throws
    // TK1WriteError rather than count more minutes than the header can hold.
    void WriteMinuteRecs(int32_t NofMins, uint8_t DeadBandPlusUplift, int32_t MinuteScalerX2560);

    // Room for one record by the flush rule, for the caller to fill at once: the full buffer
    // is written out first. Throws TK1WriteError when that write fails.
    uint8_t* AppendRecord() {
        // Also true when no buffer is allocated: FlushFullBuffer then refuses.
        if (OutBufPtr >= static_cast<int32_t>(OutBuf.size())) FlushFullBuffer();
        assert(OutBufPtr >= 0 && OutBufPtr + tk1::kRecordBytes <= constOutBufBytes);
        uint8_t* slot = OutBuf.data() + OutBufPtr;
        OutBufPtr += tk1::kRecordBytes;
        return slot;
    }
    // Append one record by the flush rule (see AppendRecord).
    void StoreRecord(const TK1Record& rec) { std::memcpy(AppendRecord(), rec.data(), rec.size()); }

    // Write the rest of the buffer and the end record, patch the header, and put the file and
    // its source-linkage file and recordings table in place under their final names, together:
    // when any write of one of them failed, or one cannot be made whole on the disk, all are
    // removed (each named, see GiveUp), leaving what had their names before; so is a file whose
    // name is taken when no Replacements are given. A file written gets its summary line in the
    // data memo (or in HeldSummaries). Nothing when no file is open.
    void FinaliseTK1File();

    // Give up the open file and its side files as CloseUnfinished does, reporting each file
    // removed (EventKind::OutputRemoved), and `gone`, one of them already removed.
    void GiveUp(const std::string& gone = {});

    // Give up the open file (after a failed write): it and its side files are removed
    // and whatever had their names before stays as it was; buffered records are discarded.
    // Nothing of this can fail in a way that loses data: a temporary file that cannot be
    // removed is removed by the next run.
    void CloseUnfinished();

    // Patch LastLoggingMin, FinalisedAtMin and the minute count into the header (called by
    // FinaliseTK1File).
    void WriteLastLoggingMinToTK1file();

    // State.
    std::vector<uint8_t> OutBuf;  // constOutBufBytes while a batch runs
    int32_t OutBufPtr = 0;        // next free index, a multiple of the record size
    bool TK1Open = false;
    int32_t TK1StartMin = 0;         // minute number of the file's first minute
    int32_t TK1min = 0;              // minute number the writer has reached
    int32_t MinsWritten = 0;         // counted minute records (the lead record is not counted)
    int32_t NofTK1files = 0;         // files finalised in this batch
    int32_t NofTK1filesGivenUp = 0;  // files removed unfinished by GiveUp (the batch resets it)
    std::string TK1BriefName;        // file name without directory (for the summary line)
    int32_t NofWavFilesInNameGroup = 0;
    int64_t BytesInWavNameGroup = 0;
    SourceLinkageFile IndexFile;  // created with the TK1 file when requested
    RecordingsTable Recordings;   // likewise
    std::string FileName;         // full name of the open file
    // Where finished files whose names are taken wait for the batch's end; none: such a file
    // is given up and the other one kept.
    PendingReplacements* Replacements = nullptr;
    // Summary lines of files that wait in Replacements (Waits), and of the files finished
    // after the first of them: the batch puts them in the data memo when it has ended, those
    // of the files it wrote only.
    struct HeldSummary {
        std::string FileName, Line;
        bool Waits = false;
    };
    std::vector<HeldSummary> HeldSummaries;

    // Local wall-clock time as a minute number; replaceable in tests.
    std::function<int32_t()> NowMinute;

private:
    void FlushFullBuffer();
    // A failure of the open file, reported as a TK1 failure naming it.
    void Failure(const std::string& text, int err = 0, const std::string& reason = {});
    void PutSettingsIntoTK1Header(const TK1HeaderInputs& in);
    void PutUserTextIntoTK1Header();
    Host& host_;
    ReplacingFile out_;         // the file under its temporary name until finalised
    bool writeFailed_ = false;  // a write to the open file failed: it never replaces anything
};

}  // namespace wtk
