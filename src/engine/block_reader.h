// Reading one block of samples (a minute, or the rest of the start minute) in pieces. Each piece
// is handed over as the 16-bit little-endian samples its positions need: the samples carried
// over from the piece before it (the filters' overlap), then the new ones. The reader keeps no
// more than that overlap between pieces and knows nothing of threads or filters; whoever reads
// a piece filters it.
//
// Positions follow the sample buffer of a block: samples r[1 ... N]; the high-pass value hp[q]
// (q = 0 ... N - 84) is centred on r[q + 20] and reads r[q + 2 ... q + 38]; band-pass position p
// (p = 2 ... N - 86) reads hp[p - 2 ... p + 2].
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace wtk {

class RecordingSource;

// CPU time (of the thread doing the work) spent in each stage, in nanoseconds; the graph
// heads, pre-reads and the rest count with the stage they serve.
struct StageTimes {
    int64_t ReadNs = 0;      // reading the file
    int64_t HighPassNs = 0;  // high-pass (with the widening of the samples)
    int64_t BandPassNs = 0;  // band-pass values and their threshold bits
    int64_t PeaksNs = 0;     // peak finder, detector, minute ends, graph calls

    StageTimes& operator+=(const StageTimes& o) {
        ReadNs += o.ReadNs;
        HighPassNs += o.HighPassNs;
        BandPassNs += o.BandPassNs;
        PeaksNs += o.PeaksNs;
        return *this;
    }
};

// The thread's CPU clock in nanoseconds.
int64_t ThreadCpuNs();

// Entries 0 ... kGraphHead - 1 of the block's sample buffer as the graphs draw it: the raw
// samples at 1 ... N, then the high-pass values written over 0 ... N - 84; what no block wrote
// keeps the value an earlier block left.
inline constexpr int32_t kGraphHead = 32768;

// One block to read: at most MaxSamples samples of the source from where it stands.
struct BlockRequest {
    RecordingSource* Source = nullptr;
    int64_t MaxSamples = 0;
    bool Graphs = false;  // read the block twice: first for its raw extremes and graph heads
};

// What the first read of a block with graphs gives.
struct BlockPreview {
    int32_t MaxSample = 0;           // raw extremes by the graphs' rule: a sample above the
    int32_t MinSample = 2147483647;  // maximum raises it, otherwise one below the minimum lowers it
    std::vector<int32_t> RawHead;    // the graph head after reading, before filtering
    std::vector<int32_t> FilteredHead;  // after the high-pass
};

// What one read gave: positions PFirst ... PFirst + Count - 1, whose samples r[PFirst ...
// PFirst + Count + 39] are in the piece's bytes, which begin with sample r[First].
struct PieceRead {
    int32_t First = 1;
    int32_t PFirst = 2;
    int32_t Count = 0;
    bool BlockEnd = false;  // the block's last piece (it may hold no positions)
};

class BlockReader {
public:
    // Samples a piece reads beyond those it carries over; the bytes a piece needs.
    static constexpr int32_t kOverlapSamples = 86;
    static size_t PieceBytes(int32_t pieceSamples) {
        return 2 * (static_cast<size_t>(pieceSamples) + kOverlapSamples + 4);
    }

    void Configure(int32_t pieceSamples);
    void Release();
    int32_t PieceSamples() const { return pieceSamples_; }

    // Starts a block; graphHead (kGraphHead entries, kept by the caller across blocks) is
    // updated by the block.
    void Begin(const BlockRequest& req, std::vector<int32_t>* graphHead);
    // With Graphs, before the first piece: the raw extremes and the graph heads.
    void PrePass();
    const BlockPreview& Preview() const { return preview_; }
    const BlockRequest& Request() const { return req_; }
    // Whether the block's last piece has been read.
    bool Done() const { return done_; }

    // Reads the next piece into bytes (PieceBytes long).
    PieceRead ReadPiece(uint8_t* bytes);

    // Reading and graph-head times, added to t when timed.
    void SetTimed(bool timed) { timed_ = timed; }
    StageTimes TakeTimes();

private:
    void UpdateGraphHead(bool snapshot);
    int64_t Clock() const;

    int32_t pieceSamples_ = 65536;
    bool timed_ = false;
    BlockRequest req_;
    std::vector<int32_t>* graphHead_ = nullptr;
    std::vector<uint8_t> carry_;  // samples r[nextP_ ... samplesRead_] (fewer than the overlap)
    int64_t samplesRead_ = 0;     // R: samples of the block read so far
    bool eof_ = false;
    bool done_ = true;
    int32_t nextP_ = 2;
    bool headDone_ = false;
    std::vector<uint8_t> headBytes_;  // samples 1 ... kGraphHead + 40 of the block
    std::vector<uint8_t> scratch_;    // the pre-pass's reads (a piece)
    int64_t headHave_ = 0;
    BlockPreview preview_;
    StageTimes times_;
};

}  // namespace wtk
