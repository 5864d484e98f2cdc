// Reading a block in pieces: every piece holds the samples its positions need, the pieces'
// positions follow one another over the whole block, whatever the piece size.
#include "engine/block_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

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

}  // namespace
}  // namespace wtk
