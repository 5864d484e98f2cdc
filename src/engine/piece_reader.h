// The pieces of a block as the filters take them: each piece read into a buffer of its own, then
// high-passed from its bytes and, ahead of the peak finder, band-passed with the filter in force.
// Since every piece carries the filters' overlap, every value equals the one a filter over the
// whole block would give, so pieces can be filtered in any order and on any thread. Reads are
// not: the caller makes them one at a time, in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "engine/band_pass.h"
#include "engine/block_reader.h"
#include "engine/filter_kernels.h"

namespace wtk {

// Values on whole cache lines of their own, which kernels may store past the caches.
template <class T>
struct CacheLineAllocator {
    using value_type = T;
    static constexpr std::align_val_t kAlign{64};
    CacheLineAllocator() = default;
    template <class U>
    CacheLineAllocator(const CacheLineAllocator<U>&) {}
    T* allocate(size_t n) { return static_cast<T*>(::operator new(n * sizeof(T), kAlign)); }
    void deallocate(T* p, size_t) { ::operator delete(p, kAlign); }
    template <class U>
    bool operator==(const CacheLineAllocator<U>&) const {
        return true;
    }
};
template <class T>
using CacheLineVector = std::vector<T, CacheLineAllocator<T>>;

// Consecutive positions of a block as read, with their high-pass values and, when filtered
// ahead, their band-pass values.
struct FilteredPiece : PieceRead {
    CacheLineVector<int32_t> Hp;      // hp[PFirst - 2 ... PFirst + Count + 1]
    CacheLineVector<int32_t> Values;  // 4 band-pass values per position (FilterGen != 0)
    std::vector<uint64_t> Above;      // bit i: Values[i] > the threshold they were made with
    uint64_t FilterGen = 0;           // generation of the BandPass they were made with; 0: not made
    // Bit b: positions 16 b ... 16 b + 15 may hold a band-pass value above the threshold of the
    // filter of generation ScreenGen (0: not screened; see BandPassBlocksMayExceed).
    std::vector<uint64_t> MayRise;
    uint64_t ScreenGen = 0;
};

// A piece with the bytes it was read from.
struct PieceBuffer : FilteredPiece {
    std::vector<uint8_t> Bytes;  // the piece's samples, from sample First of the block
    int64_t GraphSpan = -1;      // the block's raw span when graphs are on, else -1
};

class PieceReader {
public:
    // Pieces of up to pieceSamples new samples (at least 1).
    void Configure(int32_t pieceSamples);
    void Release();
    int32_t PieceSamples() const { return reader_.PieceSamples(); }

    // Buffers for one piece: bytes and high-pass values, with bandPass its band-pass values too.
    void Allocate(PieceBuffer& p, bool bandPass) const;
    // High-pass values only (for a piece filtered from another buffer's bytes).
    void Allocate(FilteredPiece& p) const;

    // Starts a block (with Graphs, reads it once for the graphs first); graphHead (kGraphHead
    // entries, kept by the caller across blocks) is updated by the block.
    void Begin(const BlockRequest& req, std::vector<int32_t>* graphHead);
    const BlockPreview& Preview() const { return reader_.Preview(); }
    // Whether the block's last piece has been read.
    bool Done() const { return reader_.Done(); }
    // Reads the next piece of the block into p; nothing of it is filtered yet.
    void Read(PieceBuffer& p);

    // Reading and graph-head times, kept only while timed.
    void SetTimed(bool timed) { reader_.SetTimed(timed); }
    StageTimes TakeTimes() { return reader_.TakeTimes(); }

private:
    BlockReader reader_;
};

// The high-pass values of the piece read into p, from its bytes, into hp (p.Count + 4
// entries), stored for this thread or for another. With t, their CPU time is added to it.
void HighPassPiece(const PieceBuffer& p, int32_t* hp, StageTimes* t,
                   Stores stores = Stores::Cached);
// The band-pass values and threshold bits of p's positions from its high-pass values, made with
// f, for another thread; false (and none made) for a quiet block of graphs. p.FilterGen is left
// to the caller, who records f's generation there once the values may be read.
bool BandPassPiece(PieceBuffer& p, const BandPass& f, StageTimes* t);
// Which 16-position blocks of p may hold a band-pass value above f's threshold, from its
// high-pass values, into p.MayRise; p.ScreenGen is left to the caller.
void ScreenPiece(PieceBuffer& p, const BandPass& f, StageTimes* t);

}  // namespace wtk
