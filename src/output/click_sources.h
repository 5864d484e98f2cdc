// Which recording each click of a TK1 file came from, the microseconds from that recording's
// first sample and the click's exact time: one answer for every reader of TK1 files (dump and
// its exports, the click trains, the results view).
//
// With the recordings table, each recording occupies the span of the TK1 file's time from its
// placed first sample, PlacedUs, for its length (its samples at its rate). The clicks are
// walked in file order with a current recording, the first one at the start. A click's time T
// is its minute's start plus its time in the minute (W, ClkTime5MuSecs x 5 us). Where the
// current recording's samples close a minute, its last 500 ticks (125,000,000 / rate us) open
// the next minute and its next block starts that minute's times again; so a recording's clicks
// may lie up to that allowance, A = ceil(125,000,000 / rate) + 5 us, past its end where they
// lie within A of their minute's start, and its times step back only from a click within A of
// its minute's start that is not past its end. The current recording gives way to the next
// one, as often as it applies,
//   - when T lies past its end (T >= end, unless T < end + A and W < A), or
//   - when T steps back from the click before (T < the previous click's time P, where P lay at
//     least A past its minute's start or at or after the current recording's end: a later file
//     continuing a minute its predecessor ran into) and the next recording's span holds T
//     (its PlacedUs <= T, and T not past its end).
// A recording of unknown length (rate or samples 0) ends where the next one is placed, and a
// rate of 0 allows 125,005 us (the widest, at 1 k samples/s). The offset is T - PlacedUs; the
// exact time is the recording's start plus the offset, and without a start, T.
//
// With the source linkage file alone, each recording's samples begin at the start of the
// minute the file gives it. Within a minute, a step back of more than 250 ms shows where the
// next file's samples begin when the linkage gives it this minute or the next (a file that
// continues the minute its predecessor ran into); where it gives a file this minute and the
// file after it neither this minute nor the next, the clicks before the minute's first such
// step are still its predecessor's. Offsets count from the start of the minute where the file's
// samples begin; the exact time is T.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "output/tk1_codec.h"

namespace wtk::tk1 {

// Where one click came from.
struct ClickSource {
    static constexpr size_t kNone = SIZE_MAX;
    size_t Recording = kNone;  // index into the rows (or linkage lines); kNone: none known
    int64_t OffsetUs = 0;      // from the recording's first sample (0 without a recording)
    int64_t TimeUs = 0;        // microseconds since 1899-12-30 00:00
    bool FromStart = false;    // TimeUs is the recording's start plus OffsetUs (else T)
};

// A click as a TK1 file gives its time: its minute and ClkTime5MuSecs.
struct ClickTime {
    int64_t Minute = 0;
    int32_t ClkTime5MuSecs = 0;
};

class ClickSources {
public:
    // From the recordings table's rows, in table order.
    explicit ClickSources(std::vector<RecordingRow> rows);
    // From the source linkage file's lines alone, in file order.
    explicit ClickSources(std::vector<LinkageLine> lines);

    // The sources of the clicks of one minute, given their times in 5 us units in file order.
    // Minutes come in increasing order, each with all its clicks.
    std::vector<ClickSource> Minute(int64_t minute, std::span<const int32_t> times);
    // The recordings known.
    size_t Size() const { return fromTable_ ? rows_.size() : lines_.size(); }

private:
    ClickSource FromRows(int64_t minute, int32_t time);
    std::vector<ClickSource> FromLinkage(int64_t minute, std::span<const int32_t> times);
    int64_t EndUs(size_t i) const;
    int64_t AllowanceUs(size_t i) const;
    bool PastEnd(size_t i, int64_t t, int64_t inMinute) const;

    bool fromTable_ = false;
    std::vector<RecordingRow> rows_;
    std::vector<LinkageLine> lines_;
    // The walk over the table.
    size_t current_ = 0;
    bool hadClick_ = false;
    int64_t previousUs_ = 0, previousInMinute_ = 0;
    // The walk over the linkage lines.
    size_t next_ = 0;     // the first line not yet reached
    size_t line_ = 0;     // the current line, once next_ > 0
    int64_t origin_ = 0;  // the minute in which the current line's samples begin
};

// The sources of all clicks of a TK1 file, given in file order.
std::vector<ClickSource> AttributeClicks(ClickSources& sources, std::span<const ClickTime> clicks);

}  // namespace wtk::tk1
