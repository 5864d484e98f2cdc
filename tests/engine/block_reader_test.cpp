// Reading a block in pieces: every piece holds the samples its positions need, the pieces'
// positions follow one another over the whole block, whatever the piece size; a piece filtered
// from its bytes gives the values of the filters over the whole block.
#include "engine/block_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "engine/filter_kernels.h"
#include "engine/piece_reader.h"
#include "engine_test_util.h"
#include "input/recording_source.h"
#include "temp_dir.h"

namespace wtk {
namespace {

TEST(BlockReaderTest, PiecesCarryTheOverlapAndCoverEveryPositionOfTheBlock) {
    std::vector<int16_t> samples(5000);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(i * 7919 % 65536);
    const std::vector<uint8_t> file = test::FileBytes(samples, 1);  // an odd trailing byte
    test::TempDir dir;
    test::WriteFileBytes(dir / "r.wav", file);
    const int fd = ::open((dir / "r.wav").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    struct Block {
        int64_t offset, maxSamples;
    };
    // A block limited by its sample count, one by the end of the file (odd byte included),
    // and one shorter than the filters' overlap.
    for (const Block b : {Block{100, 3000}, Block{2100, 100000}, Block{9800, 80}}) {
        for (const int32_t pieceSamples : {1, 37, 86, 87, 213, 65536}) {
            BlockReader reader;
            reader.Configure(pieceSamples);
            RecordingLayout layout;
            layout.Begin = b.offset;
            layout.End = static_cast<int64_t>(file.size());
            const auto source = OpenRecordingSource(fd, layout.End, layout);
            reader.Begin(BlockRequest{source.get(), b.maxSamples, false}, nullptr);
            const int64_t n = std::min<int64_t>(b.maxSamples, (layout.End - b.offset) / 2);
            std::vector<uint8_t> bytes(BlockReader::PieceBytes(pieceSamples));
            int32_t nextP = 2;
            PieceRead r;
            do {
                r = reader.ReadPiece(bytes.data());
                ASSERT_EQ(r.PFirst, nextP) << pieceSamples;
                // Samples r[PFirst ... PFirst + Count + 39] of the block (sample j of the block
                // is the file's sample j - 1 after the block's first byte).
                for (int32_t j = r.PFirst; r.Count > 0 && j <= r.PFirst + r.Count + 39; ++j) {
                    const size_t at = static_cast<size_t>(b.offset + 2 * (j - 1));
                    const size_t in = static_cast<size_t>(2 * (j - r.First));
                    ASSERT_EQ(bytes[in], file[at]) << pieceSamples << " sample " << j;
                    ASSERT_EQ(bytes[in + 1], file[at + 1]);
                }
                nextP += r.Count;
            } while (!r.BlockEnd);
            EXPECT_EQ(nextP - 2, std::max<int64_t>(n - 87, 0)) << "positions 2 ... N - 86";
            EXPECT_EQ(source->Tell() - b.offset,
                      std::min<int64_t>(2 * b.maxSamples, file.size() - b.offset));
            EXPECT_EQ(source->Failure(), nullptr);
            EXPECT_TRUE(reader.Done());
        }
    }
    ::close(fd);
}

// Each piece, high-passed from its own bytes and band-passed with a filter, holds the values of
// the filters over the whole block, and the filter's generation; a block of graphs whose raw
// span is at most 4 x the filter's threshold is quiet: no values, generation 0.
TEST(PieceReaderTest, PiecesFilteredApartGiveTheBlocksValuesAndTheirFiltersGeneration) {
    const std::vector<int16_t> samples = test::NoisyBursts(3000, 3.0, 40.0, 5.7, 3);
    int32_t lo = 0, hi = 0;
    for (const int16_t v : samples) {
        lo = std::min<int32_t>(lo, v);
        hi = std::max<int32_t>(hi, v);
    }
    const std::vector<uint8_t> file = test::FileBytes(samples);
    test::TempDir dir;
    test::WriteFileBytes(dir / "r.wav", file);
    const int fd = ::open((dir / "r.wav").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    // The block's high-pass and band-pass values in one go.
    const auto n = static_cast<int32_t>(samples.size());
    std::vector<int32_t> hp(static_cast<size_t>(n));
    HighPassFromBytes(file.data() + 100 + 2, n - 37, hp.data());
    const test::EngineFixture fx("2");
    struct Row {
        bool graphs;
        int32_t threshold;
        bool quiet;
    };
    // The block's raw span is hi - lo (the graphs' rule gives it for this signal).
    for (const Row row :
         {Row{false, 1000, false}, Row{true, 5, false}, Row{true, (hi - lo + 3) / 4, true},
          Row{true, (hi - lo) / 4 - 1, false}}) {
        const BandPass filter(fx.sens.Coeff, row.threshold, 7);
        std::vector<int32_t> whole(4 * static_cast<size_t>(n) + 4);
        std::vector<uint64_t> wholeAbove(whole.size() / 64 + 1);
        BandPassValues(hp.data(), 2, n - 87, filter.Coeffs(), row.threshold, whole.data(),
                       wholeAbove.data());
        for (const int32_t pieceSamples : {37, 500, 65536}) {
            RecordingLayout layout;
            layout.Begin = 100;
            layout.End = static_cast<int64_t>(file.size());
            const auto source = OpenRecordingSource(fd, layout.End, layout);
            PieceReader reader;
            reader.Configure(pieceSamples);
            PieceBuffer piece;
            reader.Allocate(piece, true);
            std::vector<int32_t> head(kGraphHead);
            reader.Begin(BlockRequest{source.get(), n, row.graphs}, &head);
            int32_t positions = 0;
            do {
                reader.Read(piece);
                HighPassPiece(piece, piece.Hp.data(), nullptr);
                piece.FilterGen = BandPassPiece(piece, filter, nullptr) ? filter.Gen() : 0;
                if (piece.Count == 0) continue;
                positions += piece.Count;
                const auto at = static_cast<size_t>(piece.PFirst - 2);
                for (int32_t q = 0; q < piece.Count + 4; ++q) {
                    ASSERT_EQ(piece.Hp[static_cast<size_t>(q)], hp[at + static_cast<size_t>(q)])
                        << pieceSamples << " hp " << piece.PFirst + q - 2;
                }
                ASSERT_EQ(piece.FilterGen, row.quiet ? 0u : 7u) << pieceSamples;
                for (int32_t i = 0; !row.quiet && i < 4 * piece.Count; ++i) {
                    const size_t w = 4 * at + static_cast<size_t>(i);
                    ASSERT_EQ(piece.Values[static_cast<size_t>(i)], whole[w])
                        << pieceSamples << " value " << w;
                    ASSERT_EQ(piece.Above[static_cast<size_t>(i / 64)] >> (i % 64) & 1,
                              wholeAbove[w / 64] >> (w % 64) & 1);
                }
            } while (!piece.BlockEnd);
            EXPECT_EQ(positions, n - 87) << pieceSamples;
        }
    }
    ::close(fd);
}

}  // namespace
}  // namespace wtk
