// The filters ahead of the peak finder: a block read in pieces (engine/piece_reader.h), what the
// graphs show of it first (engine/graph_preview.h), and the ring that hands the pieces to the
// peak finder in order, filtered on its thread or ahead on a second one (engine/piece_ring.h).
// The bytes a conversion writes are the same on one thread or two.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/band_pass.h"
#include "engine/piece_reader.h"
#include "engine/piece_ring.h"

namespace wtk {

class FilterPipeline {
public:
    static constexpr int32_t kDefaultPieceSamples = 65536;

    // Buffers for pieces of up to pieceSamples new samples; threaded: a second thread filters
    // ahead. Stops a running block.
    void Configure(int32_t pieceSamples, bool threaded) { ring_.Configure(pieceSamples, threaded); }
    void Release() { ring_.Release(); }
    bool Configured() const { return ring_.Configured(); }

    // The filter in force, for the pieces filtered ahead from now on.
    void SetFilter(BandPassRef filter) { ring_.SetFilter(std::move(filter)); }

    // Starts a block; graphHead (kGraphHead entries, kept by the caller across blocks) is
    // updated by the block.
    void BeginBlock(const BlockRequest& req, std::vector<int32_t>* graphHead) {
        ring_.BeginBlock(req, graphHead);
    }
    // With Graphs: the raw extremes and the graph heads (which no later read of the block
    // changes).
    const BlockPreview& Preview() const { return reader_.Preview(); }
    // The next piece of the block; valid until DonePiece. Its band-pass values, when it has
    // them (FilterGen != 0), were made with the filter of that generation.
    FilteredPiece& NextPiece() { return ring_.NextPiece(); }
    void DonePiece() { ring_.DonePiece(); }
    // Abandons the block in progress (after an error in the consumer, or a stop).
    void Abandon() { ring_.Abandon(); }

    // Stage times of the reading and filtering on both threads (kept only while timed).
    void SetTimed(bool timed) { ring_.SetTimed(timed); }
    StageTimes ProducerTimes() { return ring_.ProducerTimes(); }
    void ResetTimes() { ring_.ResetTimes(); }
    // Whether a second thread filters ahead (until the batch gives it up).
    bool Threaded() const { return ring_.Threaded(); }

    // Whether pieces high-passed from now on are screened too (see PieceRing).
    void SetScreenAhead(bool on) { ring_.SetScreenAhead(on); }

    // For tests (see PieceRing).
    void SetBandPassAhead(bool on) { ring_.SetBandPassAhead(on); }
    void SetFillAhead(bool on) { ring_.SetFillAhead(on); }
    void SetTakeOverAtOnce(bool on) { ring_.SetTakeOverAtOnce(on); }

private:
    PieceReader reader_;
    PieceRing ring_{reader_};
};

}  // namespace wtk
