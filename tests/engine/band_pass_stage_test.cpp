// The band-pass stage and the whole file conversion against the one-step-at-a-time reference,
// and the minute ends inside a block.
#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <thread>

#include "engine/filter_kernels.h"
#include "engine_test_util.h"
#include "temp_dir.h"

namespace wtk {
namespace {

using test::EngineFixture;
using test::RecordingSink;
using test::ReferenceConverter;
using test::SinkEvent;

struct Variant {
    FilterKernelKind kernel;
    bool graphs;
    tGainType gainType;
    int32_t pieceSamples;    // new samples per piece read
    bool threads;            // band-pass filtered ahead on a second thread
    bool fillAhead = false;  // the queue filled before each piece is taken (pieces past every
                             // minute end band-passed ahead at the gain before it)
    bool takeOver = false;   // every piece the second thread took is filtered again, done or not
    bool slowReads = false;  // each read takes longer than filtering what it gives (as decoding)
    bool bandPassAhead = false;  // the second thread band-passes the pieces furthest ahead too
};

// A source whose every read waits first, as a decoder at work would.
class SlowSource final : public RecordingSource {
public:
    explicit SlowSource(std::unique_ptr<RecordingSource> s) : s_(std::move(s)) {}
    int64_t Read(uint8_t* out, int64_t n) override {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        return s_->Read(out, n);
    }
    bool AtEnd() const override { return s_->AtEnd(); }
    int64_t Tell() const override { return s_->Tell(); }
    void Seek(int64_t place) override { s_->Seek(place); }
    int64_t SamplesBefore(int64_t place) const override { return s_->SamplesBefore(place); }
    const ReadFailure* Failure() const override { return s_->Failure(); }

private:
    std::unique_ptr<RecordingSource> s_;
};

class ChunkedEqualsReference : public ::testing::TestWithParam<Variant> {
protected:
    void SetUp() override {
        saved_ = ActiveFilterKernel();
        if (!SelectFilterKernel(GetParam().kernel)) GTEST_SKIP() << "processor lacks this variant";
    }
    void TearDown() override { SelectFilterKernel(saved_); }
    FilterKernelKind saved_{};
};

// Settings that make every minute end change the gain or the threshold.
void MakeSensitivityRestless(DetectorSettings& s, tGainType t) {
    s.GainType = t;
    s.NofNoisyMinsForAction = 0;
    s.NofQuietMinsForAction = 0;
    s.NoisyLevelClkCount = 100;
    s.QuietLevelClkCount = 50;
    s.AmpStep = 7;
}

// Converts the samples with the processor and with the reference; both must make the same
// calls in the same order and end in the same state.
// Returns the number of minute records.
size_t ExpectSameAsReference(const std::vector<int16_t>& samples, WavFileRec rec, const Variant& v,
                             RecordingSink::Counting counting, size_t extraBytes = 0) {
    EngineFixture fx("2");
    MakeSensitivityRestless(fx.settings, v.gainType);
    fx.controls.ShowGraphs = v.graphs;
    fx.host.hiResLength = 700;
    fx.proc.SetPieceSamples(v.pieceSamples);
    fx.proc.UseThreads(v.threads);
    fx.proc.FillAheadForTests(v.fillAhead);
    fx.proc.BandPassAheadForTests(v.bandPassAhead);
    fx.proc.TakeOverAtOnceForTests(v.takeOver);
    fx.proc.AllocateBuffers(fx.host.hiResLength);
    ReferenceConverter ref{fx.rate, fx.settings, fx.sens, {}, {}, 700, {}};
    RecordingSink sink;
    sink.counting = ref.sink.counting = counting;

    const std::vector<uint8_t> bytes = test::FileBytes(samples, extraBytes);
    test::TempDir dir;
    test::WriteFileBytes(dir / "a.wav", bytes);
    std::FILE* f = std::fopen((dir / "a.wav").c_str(), "rb");
    if (f == nullptr) {
        ADD_FAILURE() << "cannot open the test file";
        return 0;
    }
    if (v.slowReads) {
        RecordingLayout layout;
        layout.Begin = kSkippedHeaderBytes;
        layout.End = static_cast<int64_t>(bytes.size());
        SlowSource source(OpenRecordingSource(fileno(f), layout.End, layout));
        fx.proc.ConvertOneWavFileWith(sink, source, 0, rec);
    } else {
        fx.proc.ConvertOneWavFileWith(sink, f, 0, rec);
    }
    std::fclose(f);
    ref.Convert(bytes, rec, v.graphs);

    EXPECT_EQ(sink.events.size(), ref.sink.events.size());
    for (size_t i = 0; i < std::min(sink.events.size(), ref.sink.events.size()); ++i) {
        if (sink.events[i] == ref.sink.events[i]) continue;
        ADD_FAILURE() << "call " << i << ": " << sink.events[i] << " instead of "
                      << ref.sink.events[i];
        break;
    }
    EXPECT_EQ(sink.clicks, ref.sink.clicks);
    EXPECT_EQ(fx.proc.SampleTimeNear2MHz, ref.st.SampleTimeNear2MHz);
    EXPECT_EQ(fx.proc.PkAmp, ref.st.PkAmp);
    EXPECT_EQ(fx.proc.PrePkAmp, ref.st.PrePkAmp);
    EXPECT_EQ(fx.proc.LastAmp, ref.st.LastAmp);
    EXPECT_EQ(fx.proc.PkNear2MHZtime, ref.st.PkNear2MHZtime);
    EXPECT_EQ(fx.proc.PkNear4MHZtime, ref.st.PkNear4MHZtime);
    EXPECT_EQ(fx.proc.LastPkNear4MHZtime, ref.st.LastPkNear4MHZtime);
    EXPECT_EQ(fx.proc.PkConfirmationLevel, ref.st.PkConfirmationLevel);
    EXPECT_EQ(fx.proc.PkOnHold, ref.st.PkOnHold);
    EXPECT_EQ(fx.sens.CurrentAmpScaler, ref.sens.CurrentAmpScaler);
    EXPECT_EQ(fx.sens.AdjustedDeadBand, ref.sens.AdjustedDeadBand);
    EXPECT_EQ(fx.sens.MinsInThisTK1File, ref.sens.MinsInThisTK1File);
    EXPECT_EQ(fx.host.MemoLines(Memo::DATA2Memo).size(), sink.MinuteRecordCount());
    if (v.graphs) {
        // The last drawing of each trace holds the reference's values: the head of the sample
        // buffer before and after the high-pass, and the band-pass values.
        int draws = 0;
        const test::RecordingHost::GraphCall* last[4] = {};
        for (const auto& g : fx.host.graphs) {
            last[g.GraphID] = &g;
            draws += g.GraphID == 3;
        }
        EXPECT_EQ(draws, ref.st.hiResDraws);
        if (last[3]) {
            EXPECT_EQ(last[3]->values, ref.st.hiResDrawn);
        }
        for (int id : {1, 2}) {
            if (last[id] == nullptr) {
                ADD_FAILURE() << "trace " << id << " not drawn";
                continue;
            }
            const auto& want = id == 1 ? ref.st.rawDrawn : ref.st.filteredDrawn;
            EXPECT_TRUE(last[id]->values == want) << "trace " << id;
        }
    }
    return sink.MinuteRecordCount();
}

TEST_P(ChunkedEqualsReference, NoisyFileOverSeveralBlocks) {
    // 2.6 minutes at 2 k samples/s, a first block of 40 s (start second 20) and a start tick
    // near the end of the minute: the first minute ends inside the first chunk, the second
    // one at the click limit (every peak counts as a click), the third by its tick count.
    WavFileRec rec;
    rec.Start.Second = 20;
    rec.Start.TimeInMinuteNear2MHz = 479000;
    auto samples = test::NoisyBursts(312000, 900.0, 8000.0, 3.3, 5);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<int16_t>(samples[i] + std::lround(3000 * std::sin(i * 2.3)));
    }
    EXPECT_EQ(ExpectSameAsReference(samples, rec, GetParam(), RecordingSink::Counting::Every), 3u);
}

TEST_P(ChunkedEqualsReference, QuietFileWithToneBursts) {
    WavFileRec rec;
    rec.Start.TimeInMinuteNear2MHz = 1;
    auto samples = test::NoisyBursts(250001, 4.0, 300.0, 5.7, 9);
    // Some peaks count as clicks; an odd trailing byte ends the file.
    EXPECT_EQ(ExpectSameAsReference(samples, rec, GetParam(), RecordingSink::Counting::Some, 1),
              2u);
}

// Piece sizes: 65536 (the default); 213, whose first piece ends at the first minute end of the
// noisy file; 119962, whose first piece ends at the minute end of the quiet file; 37 and 50,
// pieces shorter than the filters' overlap; 120000, a whole block. Each size runs on one and
// on two threads with a kernel other than AVX-512 (which many processors lack), some also with
// AVX-512. The last rows fill the queue of the second thread before each piece is taken, most
// with band-passing ahead, so that pieces past every minute end are band-passed at the gain and
// threshold the minute end changes, and must be band-passed again; the next ones have the peak
// finder's thread filter every piece again that the second thread took (as when that thread is
// held up); the very last ones read slowly, as a decoder does, so that the threads wait for
// reads and filter what the other has read.
INSTANTIATE_TEST_SUITE_P(
    Variants, ChunkedEqualsReference,
    ::testing::Values(
        Variant{FilterKernelKind::Portable, false, tGainType::tgGain, 65536, true},
        Variant{FilterKernelKind::Avx2, false, tGainType::tgGain, 213, false},
        Variant{FilterKernelKind::Avx512, false, tGainType::tgThreshold, 37, true},
        Variant{FilterKernelKind::Avx2, true, tGainType::tgThreshold, 119962, true},
        Variant{FilterKernelKind::Portable, true, tGainType::tgNone, 65536, false},
        Variant{FilterKernelKind::Avx512, true, tGainType::tgGain, 213, true},
        Variant{FilterKernelKind::Avx512, false, tGainType::tgGain, 119962, false},
        Variant{FilterKernelKind::Avx2, true, tGainType::tgGain, 50, false},
        Variant{FilterKernelKind::Avx512, false, tGainType::tgThreshold, 120000, true},
        Variant{FilterKernelKind::Portable, true, tGainType::tgThreshold, 37, false},
        Variant{FilterKernelKind::Avx2, false, tGainType::tgGain, 50, true},
        Variant{FilterKernelKind::Avx2, false, tGainType::tgThreshold, 213, true},
        Variant{FilterKernelKind::Portable, false, tGainType::tgThreshold, 119962, false},
        Variant{FilterKernelKind::Portable, false, tGainType::tgGain, 120000, false},
        Variant{FilterKernelKind::Avx2, true, tGainType::tgGain, 37, true},
        Variant{FilterKernelKind::Avx2, true, tGainType::tgNone, 120000, true},
        Variant{FilterKernelKind::Avx2, false, tGainType::tgGain, 213, true, true, false, false,
                true},
        Variant{FilterKernelKind::Portable, false, tGainType::tgThreshold, 37, true, true, false,
                false, true},
        Variant{FilterKernelKind::Avx2, false, tGainType::tgGain, 65536, true, true, false, false,
                true},
        Variant{FilterKernelKind::Avx2, true, tGainType::tgThreshold, 4096, true, true, false,
                false, true},
        Variant{FilterKernelKind::Portable, true, tGainType::tgGain, 213, true, true},
        Variant{FilterKernelKind::Avx2, false, tGainType::tgGain, 37, true, false, true},
        Variant{FilterKernelKind::Portable, true, tGainType::tgGain, 213, true, false, true},
        Variant{FilterKernelKind::Avx2, false, tGainType::tgThreshold, 213, true, true, true, false,
                true},
        Variant{FilterKernelKind::Avx2, false, tGainType::tgGain, 4096, true, false, false, true},
        Variant{FilterKernelKind::Avx2, false, tGainType::tgThreshold, 4096, true, false, false,
                true, true},
        Variant{FilterKernelKind::Portable, true, tGainType::tgThreshold, 213, true, false, false,
                true},
        Variant{FilterKernelKind::Avx2, false, tGainType::tgGain, 213, false, false, false, true}),
    [](const auto& info) {
        const Variant& v = info.param;
        std::string name = test::KernelName(v.kernel);
        name += v.graphs ? "Graphs" : "NoGraphs";
        name += v.gainType == tGainType::tgGain        ? "Gain"
                : v.gainType == tGainType::tgThreshold ? "Threshold"
                                                       : "None";
        name += "Pieces" + std::to_string(v.pieceSamples);
        name += v.threads ? "TwoThreads" : "OneThread";
        if (v.fillAhead) name += "FilledAhead";
        if (v.takeOver) name += "TakenOver";
        if (v.slowReads) name += "SlowReads";
        if (v.bandPassAhead) name += "BandPassedAhead";
        return name;
    });

TEST(ChunkedConversionTest, ASecondThreadThatKeepsThePeakFinderWaitingIsGivenUp) {
    // Every piece the second thread filters is taken over (as when another program holds its
    // processor): the next block runs on one thread, and so does the next file of the batch.
    EngineFixture fx("2");
    fx.proc.SetPieceSamples(213);
    fx.proc.UseThreads(true);
    fx.proc.FillAheadForTests(true);
    fx.proc.TakeOverAtOnceForTests(true);
    fx.proc.AllocateBuffers(fx.host.hiResLength);
    EXPECT_TRUE(fx.proc.FiltersAhead());
    test::TempDir dir;
    test::WriteSamplesFile(dir / "a.wav", test::NoisyBursts(250000, 900.0, 8000.0, 3.3, 5));
    RecordingSink sink;
    for (int file = 0; file < 2; ++file) {
        std::FILE* f = std::fopen((dir / "a.wav").c_str(), "rb");
        ASSERT_NE(f, nullptr);
        fx.proc.ConvertOneWavFileWith(sink, f, file, WavFileRec{});
        std::fclose(f);
        EXPECT_FALSE(fx.proc.FiltersAhead()) << file;
    }
    // A new batch tries two threads again.
    fx.proc.AllocateBuffers(fx.host.hiResLength);
    EXPECT_TRUE(fx.proc.FiltersAhead());
}

TEST(ChunkedConversionTest, TheSecondThreadBandPassesAndScreensAheadOnlyWhenAskedTo) {
    // Values made on one processor and read on the other cost more than they save, so by
    // default the second thread only reads and high-passes: with the queue filled ahead, every
    // piece reaches the peak finder without band-pass values, and with band-passing ahead,
    // every one that has positions carries those of the filter in force. Screening ahead marks
    // the very blocks that screening the piece's high-pass values here marks.
    const test::EngineFixture fx("2");
    test::TempDir dir;
    test::WriteSamplesFile(dir / "a.wav", test::NoisyBursts(30000, 900.0, 8000.0, 3.3, 5));
    const auto filter = std::make_shared<const BandPass>(fx.sens.Coeff, 10, 3);
    for (const bool ahead : {false, true}) {
        const bool screen = !ahead;
        std::FILE* f = std::fopen((dir / "a.wav").c_str(), "rb");
        ASSERT_NE(f, nullptr);
        RecordingLayout layout;
        layout.Begin = kSkippedHeaderBytes;
        layout.End = detail::StreamSize(f);
        const auto source = OpenRecordingSource(fileno(f), layout.End, layout);
        FilterPipeline pipeline;
        pipeline.Configure(213, true);
        pipeline.SetFillAhead(true);
        pipeline.SetBandPassAhead(ahead);
        pipeline.SetScreenAhead(screen);
        pipeline.SetFilter(filter);
        std::vector<int32_t> head(kGraphHead);
        pipeline.BeginBlock(BlockRequest{source.get(), 30000, false}, &head);
        int pieces = 0;
        int bandPassed = 0;
        int screened = 0;
        int marked = 0;
        for (;;) {
            const FilteredPiece& piece = pipeline.NextPiece();
            pieces += piece.Count > 0;
            bandPassed += piece.FilterGen != 0;
            screened += piece.ScreenGen != 0;
            if (piece.FilterGen != 0) {
                EXPECT_EQ(piece.FilterGen, 3u);
            }
            if (piece.ScreenGen != 0) {
                EXPECT_EQ(piece.ScreenGen, 3u);
                std::vector<uint64_t> here((piece.Count + 1023) / 1024);
                BandPassBlocksMayExceed(piece.Hp.data(), 2, piece.Count, filter->Coeffs(), 10,
                                        here.data());
                EXPECT_TRUE(std::equal(here.begin(), here.end(), piece.MayRise.begin()));
                for (uint64_t w : here) marked += std::popcount(w);
            }
            const bool end = piece.BlockEnd;
            pipeline.DonePiece();
            if (end) break;
        }
        std::fclose(f);
        EXPECT_GT(pieces, 100) << ahead;
        EXPECT_EQ(bandPassed, ahead ? pieces : 0) << ahead;
        EXPECT_EQ(screened, screen ? pieces : 0) << ahead;
        if (screen) {
            EXPECT_GT(marked, 100);
        }
    }
}

TEST(ChunkedConversionTest, AChunkTakesTheBlockBitsOfItsPieceFromAnyBlockOn) {
    std::mt19937_64 rng(5);
    std::vector<uint64_t> piece(5);
    for (auto& w : piece) w = rng();
    for (const int32_t from : {0, 1, 63, 64, 100, 191}) {
        for (const int32_t count : {1, 63, 64, 65, 128}) {
            if (from + count > 64 * 5) continue;
            std::array<uint64_t, 3> chunk;
            chunk.fill(~uint64_t{0});
            detail::CopyBits(piece.data(), piece.size(), from, count, chunk.data());
            for (int32_t b = 0; b < 64 * ((count + 63) / 64); ++b) {
                const int32_t at = from + b;
                const bool want = b < count && ((piece[at / 64] >> (at % 64)) & 1) != 0;
                ASSERT_EQ(((chunk[b / 64] >> (b % 64)) & 1) != 0, want)
                    << "from " << from << " count " << count << " bit " << b;
            }
        }
    }
}

// A block already in the band-pass stage, without the file around it: hp[q] is the high-pass
// value q of the block.
struct Stage : EngineFixture {
    RecordingSink sink;
    std::vector<int32_t> hp;
    Stage() : EngineFixture("2") {}
    void Fill(const std::vector<int16_t>& s) {
        hp.assign(s.begin(), s.end());
        proc.MaxSampleThisMinute = 0;
        proc.MinSampleThisMinute = 2147483647;
    }
    // Positions 2 ... n - 86 of a block of n samples.
    void BandPassStage(int32_t n) { proc.BandPassStage(sink, hp.data(), n - 87); }
};

TEST(BandPassStageTest, AFullBlockClosesItsMinuteInsideTheBlock) {
    Stage st;
    const int32_t n = st.rate.SamplesPerMin;  // 120000 at 2 k samples/s
    st.Fill(std::vector<int16_t>(n, 0));
    st.proc.SampleTimeNear2MHz = 0;
    st.BandPassStage(n);
    // Positions 2 ... n - 86; the tick count passes 479500 after position 119876.
    ASSERT_EQ(st.rate.SampleTimeNear2MHzPerMin, 479500);
    ASSERT_EQ(st.sink.events.size(), 2u);
    EXPECT_EQ(st.sink.events[0], (SinkEvent{SinkEvent::Peak, 255, 0, 0, true}));
    EXPECT_EQ(st.sink.events[1], (SinkEvent{SinkEvent::MinuteRecord, 1, 0, 3, false}));
    EXPECT_EQ(st.proc.SampleTimeNear2MHz, 4 * ((n - 87) - 119876));
    EXPECT_EQ(st.sens.MinsInThisTK1File, 1);
}

TEST(BandPassStageTest, AMinuteEndsAfterThePositionThatReachesTheClickLimit) {
    Stage st;
    st.sink.counting = RecordingSink::Counting::Every;
    st.sink.clicks = 40000;  // clicks of the minute so far
    const int32_t n = st.rate.SamplesPerMin;
    st.Fill(test::NoisyBursts(n, 3000.0, 0.0, 1.0, 3));
    st.proc.SampleTimeNear2MHz = 0;
    st.BandPassStage(n);
    // The first minute end follows the click that reached the limit, or up to three more of
    // the same position.
    size_t before = 0;
    size_t i = 0;
    for (; i < st.sink.events.size() && !st.sink.events[i].init; ++i) ++before;
    ASSERT_LT(i, st.sink.events.size()) << "the limit was not reached";
    EXPECT_GE(before, 25536u);
    EXPECT_LE(before, 25539u);
    EXPECT_EQ(st.sink.events[i + 1].kind, SinkEvent::MinuteRecord);
    EXPECT_LT(st.sink.events[i - 1].c, 100000000) << "long before the minute's tick count";
    // The rest of the block starts a new minute at time 0.
    ASSERT_LT(i + 2, st.sink.events.size());
    EXPECT_LT(st.sink.events[i + 2].c, 100 * 250);  // 250 units of 500 ns per tick
    EXPECT_EQ(st.host.MemoLines(Memo::DATA2Memo)[0].substr(0, 2), "0\t");
    EXPECT_GE(std::stoi(st.host.MemoLines(Memo::DATA2Memo)[0].substr(2)), 65536);
}

TEST(BandPassStageTest, AClickCountAlreadyAtTheLimitEndsTheMinuteAfterOnePosition) {
    Stage st;
    st.sink.clicks = 70000;
    st.Fill(std::vector<int16_t>(1000, 0));
    st.proc.SampleTimeNear2MHz = 100;
    st.BandPassStage(1000);
    ASSERT_EQ(st.sink.MinuteRecordCount(), 1u);
    EXPECT_EQ(st.sink.clicks, 0);
    EXPECT_EQ(st.proc.SampleTimeNear2MHz, 4 * (1000 - 87 - 1));
}

// A band-pass kernel that passes each high-pass value through as the four values of its
// position, so that a test writes the values themselves.
void PassValuesThrough(Sensitivity& sens) {
    sens.Coeff.fill(0.0f);
    for (int k = 8; k < 12; ++k) sens.Coeff[static_cast<size_t>(k)] = 1.0f;
}

// Stretches of 16 positions whose values all lie at or below the threshold are passed over
// only while no peak is held: a held peak confirmed in such a stretch is handed over, and not
// lifted by a larger one later. The same values one at a time (graphs on) give the same calls.
TEST(BandPassStageTest, APeakHeldIntoAQuietStretchIsConfirmedThere) {
    std::vector<RecordingSink> sinks;
    for (const bool graphs : {true, false}) {
        Stage st;
        PassValuesThrough(st.sens);
        st.sens.AdjustedDeadBand = 40;
        const int32_t t = st.sens.AdjustedDeadBand;
        const int32_t n = 2000;
        std::vector<int16_t> v(n, 0);
        // Chunk position q is value hp[q + 2]; stretches begin at multiples of 16 from 320.
        const auto at = [&](int32_t q) -> int16_t& { return v[static_cast<size_t>(q + 2)]; };
        at(334) = static_cast<int16_t>(t + 10);  // a peak at the end of a stretch, held at 335
        at(335) = static_cast<int16_t>(t + 5);
        at(340) = 1;  // below half the peak, in a stretch at or below the threshold
        // Two quiet stretches, then values at half the peak and over it: a rise above the
        // held peak, had it not been confirmed.
        for (int32_t q = 384; q < 392; ++q) at(q) = static_cast<int16_t>((t + 10) / 2 + 1);
        at(392) = static_cast<int16_t>(t + 20);
        at(393) = static_cast<int16_t>(t + 15);  // held, then confirmed by the zeros after it
        st.Fill(v);
        st.proc.SampleTimeNear2MHz = 0;
        st.proc.GraphRequired = graphs;
        st.BandPassStage(n);
        sinks.push_back(st.sink);
    }
    EXPECT_EQ(sinks[1].PeakCount(), 2u);
    EXPECT_EQ(sinks[0].events, sinks[1].events);
}

// A piece's blocks screened on the other thread are taken only when they were screened with
// the filter in force: here the piece claims that no block may rise, which is believed with
// that filter (no peak) and not with another one (the peaks of the chunk screened here).
TEST(BandPassStageTest, BlocksScreenedAheadAreTakenOnlyWithTheFilterInForce) {
    std::vector<size_t> peaks;
    for (const int screenedWith : {0, 1, 2}) {  // none, the filter in force, another
        Stage st;
        PassValuesThrough(st.sens);
        st.sens.AdjustedDeadBand = 40;
        const int32_t n = 3000;
        std::vector<int16_t> v(n, 0);
        for (int32_t q = 100; q + 2 < n; q += 50) {
            v[static_cast<size_t>(q)] = 90;
            v[static_cast<size_t>(q + 1)] = 60;
        }
        st.Fill(v);
        st.proc.SampleTimeNear2MHz = 0;
        st.proc.BandPassStage(st.sink, st.hp.data(), 0);  // makes the filter in force
        const uint64_t inForce = st.proc.BandPassGenForTests();
        ASSERT_NE(inForce, 0u);
        FilteredPiece piece;
        piece.MayRise.assign(4, 0);
        piece.ScreenGen = screenedWith == 1 ? inForce : inForce + 1;
        st.proc.BandPassStage(st.sink, st.hp.data(), n - 87, screenedWith == 0 ? nullptr : &piece);
        peaks.push_back(st.sink.PeakCount());
    }
    EXPECT_GT(peaks[0], 40u);
    EXPECT_EQ(peaks[1], 0u);
    EXPECT_EQ(peaks[2], peaks[0]);
}

// After a minute end inside a piece, the next chunk may begin off the piece's blocks: it is
// then screened here (the piece's blocks would cover positions a few before each of its own).
// Here the minute ends after 101 or 104 positions (half a block) and each peak lies where a
// block shifted so would miss it.
TEST(BandPassStageTest, AChunkOffTheBlocksOfItsPieceIsScreenedHere) {
    for (const int32_t toMinuteEnd : {101, 104}) {
        std::vector<size_t> peaks;
        for (const bool screenedAhead : {false, true}) {
            Stage st;
            st.settings.GainType = tGainType::tgNone;  // the filter stays at the minute end
            PassValuesThrough(st.sens);
            st.sens.AdjustedDeadBand = 40;
            const int32_t n = 3000;
            std::vector<int16_t> v(n, 0);
            for (int32_t q = 113; q + 3 < n - 87; q += 64) {  // chunk position q is hp[q + 2]
                v[static_cast<size_t>(q + 2)] = 90;
                v[static_cast<size_t>(q + 3)] = 60;
            }
            st.Fill(v);
            st.proc.SampleTimeNear2MHz = st.rate.SampleTimeNear2MHzPerMin - 4 * (toMinuteEnd - 1);
            ASSERT_EQ(st.rate.PositionsToMinuteEnd(st.proc.SampleTimeNear2MHz), toMinuteEnd);
            st.proc.BandPassStage(st.sink, st.hp.data(), 0);  // makes the filter in force
            const uint64_t inForce = st.proc.BandPassGenForTests();
            FilteredPiece piece;
            piece.MayRise.assign(4, 0);
            BandPassBlocksMayExceed(st.hp.data(), 2, n - 87, MakeBandPassCoeffs(st.sens.Coeff), 40,
                                    piece.MayRise.data());
            piece.ScreenGen = inForce;
            st.proc.BandPassStage(st.sink, st.hp.data(), n - 87, screenedAhead ? &piece : nullptr);
            ASSERT_EQ(st.proc.BandPassGenForTests(), inForce)
                << "the minute end changed the filter";
            peaks.push_back(st.sink.PeakCount());
        }
        EXPECT_GT(peaks[0], 35u) << toMinuteEnd;
        EXPECT_EQ(peaks[1], peaks[0]) << toMinuteEnd;
    }
}

TEST(BandPassStageTest, AQuietBlockWithGraphsOnIsSkippedWhileTimeRunsOn) {
    // Raw span 40 = 4 x threshold: skipped with graphs on; the same samples give peaks with
    // graphs off (the gain is raised so that the tone passes the threshold).
    std::vector<int16_t> tone(20000);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<int16_t>(i % 8 < 4 ? 20 : -20);
    for (bool graphs : {true, false}) {
        EngineFixture fx("2");
        fx.settings.FixedAmpScaler = 0.02f;
        fx.ApplySensitivityStart();
        fx.controls.ShowGraphs = graphs;
        RecordingSink sink;
        test::TempDir dir;
        test::WriteSamplesFile(dir / "t.wav", tone);
        std::FILE* f = std::fopen((dir / "t.wav").c_str(), "rb");
        ASSERT_NE(f, nullptr);
        WavFileRec rec;
        rec.Start.TimeInMinuteNear2MHz = 10;
        fx.proc.ConvertOneWavFileWith(sink, f, 0, rec);
        std::fclose(f);
        if (graphs) {
            EXPECT_EQ(fx.proc.MaxSampleThisMinute, 20);
            EXPECT_EQ(fx.proc.MinSampleThisMinute, -20);
            EXPECT_TRUE(sink.events.empty());
            EXPECT_EQ(fx.proc.HiResGraphPtr, 0) << "no band-pass values were made";
            EXPECT_TRUE(fx.proc.GraphRequired);
        } else {
            EXPECT_GT(sink.PeakCount(), 1000u);
        }
        EXPECT_EQ(fx.proc.SampleTimeNear2MHz, 10 + 4 * (20000 - 87));
    }
}

}  // namespace
}  // namespace wtk
