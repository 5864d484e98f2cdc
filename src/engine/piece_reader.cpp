#include "engine/piece_reader.h"

#include <algorithm>

#include "engine/filter_kernels.h"

namespace wtk {

namespace {

int64_t Clock(const StageTimes* t) {
    return t != nullptr ? ThreadCpuNs() : 0;
}

size_t Positions(int32_t pieceSamples) {
    return static_cast<size_t>(pieceSamples) + BlockReader::kOverlapSamples;
}

}  // namespace

void PieceReader::Configure(int32_t pieceSamples) {
    reader_.Configure(std::max<int32_t>(pieceSamples, 1));
}

void PieceReader::Release() {
    reader_.Release();
}

void PieceReader::Allocate(PieceBuffer& p, bool bandPass) const {
    Allocate(static_cast<FilteredPiece&>(p));
    p.Bytes.assign(BlockReader::PieceBytes(PieceSamples()), 0);
    if (bandPass) {
        const size_t values = 4 * Positions(PieceSamples());
        p.Values.assign(values + 4, 0);  // + the peak finder's padding
        p.Above.assign((values + 63) / 64, 0);
        p.MayRise.assign((Positions(PieceSamples()) + 1023) / 1024, 0);
    }
}

void PieceReader::Allocate(FilteredPiece& p) const {
    p.Hp.assign(Positions(PieceSamples()) + 4, 0);
}

void PieceReader::Begin(const BlockRequest& req, std::vector<int32_t>* graphHead) {
    reader_.Begin(req, graphHead);
    if (req.Graphs) reader_.PrePass();
}

void PieceReader::Read(PieceBuffer& p) {
    static_cast<PieceRead&>(p) = reader_.ReadPiece(p.Bytes.data());
    p.FilterGen = p.ScreenGen = 0;
    p.GraphSpan = reader_.Graphs().RawSpan();
}

void HighPassPiece(const PieceBuffer& p, int32_t* hp, StageTimes* t, Stores stores) {
    if (p.Count <= 0) return;
    const int64_t t0 = Clock(t);
    HighPassFromBytes(p.Bytes.data() + 2 * static_cast<size_t>(p.PFirst - p.First), p.Count + 4, hp,
                      stores);
    if (t != nullptr) t->HighPassNs += Clock(t) - t0;
}

bool BandPassPiece(PieceBuffer& p, const BandPass& f, StageTimes* t) {
    if (p.Count <= 0 || (p.GraphSpan >= 0 && IsQuietBlock(p.GraphSpan, f.Threshold()))) {
        return false;
    }
    const int64_t t0 = Clock(t);
    BandPassValues(p.Hp.data(), 2, p.Count, f.Coeffs(), f.Threshold(), p.Values.data(),
                   p.Above.data(), Stores::Streaming);
    if (t != nullptr) t->BandPassNs += Clock(t) - t0;
    return true;
}

void ScreenPiece(PieceBuffer& p, const BandPass& f, StageTimes* t) {
    if (p.Count <= 0) return;
    const int64_t t0 = Clock(t);
    BandPassBlocksMayExceed(p.Hp.data(), 2, p.Count, f.Coeffs(), f.Threshold(), p.MayRise.data());
    if (t != nullptr) t->BandPassNs += Clock(t) - t0;
}

}  // namespace wtk
