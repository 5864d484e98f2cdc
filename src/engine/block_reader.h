// Reading one block of samples (a minute, or the rest of the start minute) in pieces. Each piece
// is handed over as the 16-bit little-endian samples its positions need: the samples carried
// over from the piece before it (the filters' overlap), then the new ones. The reader keeps no
// more than that overlap between pieces and knows nothing of threads; whoever reads a piece
// filters it. What the graphs show of the block is gathered on the way (engine/graph_preview.h).
//
// Positions follow the sample buffer of a block: samples r[1 ... N]; the high-pass value hp[q]
// (q = 0 ... N - 84) is centred on r[q + 20] and reads r[q + 2 ... q + 38]; band-pass position p
// (p = 2 ... N - 86) reads hp[p - 2 ... p + 2].
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/graph_preview.h"
#include "engine/stage_times.h"

namespace wtk {

class RecordingSource;

// One block to read: at most MaxSamples samples of the source from where it stands.
struct BlockRequest {
    RecordingSource* Source = nullptr;
    int64_t MaxSamples = 0;
    bool Graphs = false;  // read the block twice: first for its raw extremes and graph heads
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
    const GraphPreview& Graphs() const { return graphs_; }
    const BlockPreview& Preview() const { return graphs_.Preview(); }
    const BlockRequest& Request() const { return req_; }
    // Whether the block's last piece has been read.
    bool Done() const { return done_; }

    // Reads the next piece into bytes (PieceBytes long).
    PieceRead ReadPiece(uint8_t* bytes);

    // Reading and graph-head times, added to t when timed.
    void SetTimed(bool timed) { timed_ = timed; }
    StageTimes TakeTimes();

private:
    int64_t Clock() const;

    int32_t pieceSamples_ = 65536;
    bool timed_ = false;
    BlockRequest req_;
    std::vector<uint8_t> carry_;  // samples r[nextP_ ... samplesRead_] (fewer than the overlap)
    int64_t samplesRead_ = 0;     // R: samples of the block read so far
    bool eof_ = false;
    bool done_ = true;
    int32_t nextP_ = 2;
    GraphPreview graphs_;
    StageTimes times_;
};

}  // namespace wtk
