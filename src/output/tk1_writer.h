// The TK1 writer: header block, 16-byte body records collected in one 64 KiB output buffer
// that is written out only when a record needs room, minute records, and finalisation.
//
// File layout: 1024-byte header; lead minute record at 1024; first counted minute record at
// 1040; then click records and minute records in the order they occur; an end record of 16
// bytes 0xFF. All multi-byte integers are big-endian.
#pragma once

#include <array>
#include <cassert>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "output/recordings_table.h"
#include "output/replacing_file.h"
#include "output/side_files.h"

namespace wtk {

class Host;
struct DetectorSettings;

using TK1Record = std::array<uint8_t, 16>;

// A full-buffer write failed. what() names the file and the system's error text. The TK1 file
// cannot be completed; the caller closes it unfinished (CloseUnfinished) and ends the batch.
class TK1WriteError : public std::runtime_error {
public:
    explicit TK1WriteError(const std::string& what, int err = 0)
        : std::runtime_error(what), Errno(err) {}
    int Errno;  // the system's error number, 0 where none is behind it
};

// Low NofBytes (1..4) bytes of i, most significant first; a negative i is stored as 0; any
// other NofBytes writes nothing.
void Int32toBuffer(uint8_t* Buf, size_t BufSize, int32_t First, int32_t NofBytes, int32_t i);

// "d/m/yyyy hh:mm" of a minute number (minutes since 1899-12-30 00:00).
std::string MinToDateStr(int32_t m);

// The local wall-clock date and time as a minute number, rounded to the nearest minute.
int32_t LocalNowMinute();

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

class TK1Writer {
public:
    static constexpr int32_t constTK1HdrBytes = 1024;
    static constexpr int32_t constOutBufBytes = 65536;
    static constexpr int32_t constHiOutBuf = 65535;
    // The most minute records the header's 3-byte count can hold.
    static constexpr int32_t kMaxMinuteRecords = 0xFFFFFF;

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

    // Append one record by the flush rule. Throws TK1WriteError when the full buffer cannot be
    // written.
    void StoreRecord(const TK1Record& rec) {
        // Also true when no buffer is allocated: FlushFullBuffer then refuses.
        if (OutBufPtr >= static_cast<int32_t>(OutBuf.size())) FlushFullBuffer();
        assert(OutBufPtr >= 0 && OutBufPtr + 16 <= constOutBufBytes);
        std::memcpy(OutBuf.data() + OutBufPtr, rec.data(), rec.size());
        OutBufPtr += 16;
    }

    // Write the rest of the buffer and the end record, patch the header, add the summary line
    // to the data memo, and put the file (and its source-linkage file and recordings table) in
    // place under its final name. A file of which any write failed is removed instead, leaving
    // what had the name before; so is a file whose name is taken when no Replacements are
    // given. Nothing when no file is open.
    void FinaliseTK1File();

    // Give up the open file (after a failed write): it and its side files are removed
    // and whatever had their names before stays as it was; buffered records are discarded.
    // Returns false when closing the TK1 file failed.
    bool CloseUnfinished();

    // Patch LastLoggingMin, FinalisedAtMin and the minute count into the header (called by
    // FinaliseTK1File).
    void WriteLastLoggingMinToTK1file();

    // State.
    std::vector<uint8_t> OutBuf;  // constOutBufBytes while a batch runs
    int32_t OutBufPtr = 0;        // next free index, a multiple of 16
    bool TK1Open = false;
    int32_t TK1StartMin = 0;   // minute number of the file's first minute
    int32_t TK1min = 0;        // minute number the writer has reached
    int32_t MinsWritten = 0;   // counted minute records (the lead record is not counted)
    int32_t NofTK1files = 0;   // files finalised in this batch
    std::string TK1BriefName;  // file name without directory (for the summary line)
    int32_t NofWavFilesInNameGroup = 0;
    int64_t BytesInWavNameGroup = 0;
    SourceLinkageFile IndexFile;  // created with the TK1 file when requested
    RecordingsTable Recordings;   // likewise
    std::string FileName;         // full name of the open file
    // Where finished files whose names are taken wait for the batch's end; none: such a file
    // is given up and the other one kept.
    PendingReplacements* Replacements = nullptr;

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
