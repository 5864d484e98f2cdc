#include <gtest/gtest.h>

#include "engine/sample_processor.h"
#include "output/amplitude_scale.h"

namespace wtk {
namespace {

TEST(CompressedAmplitude, BandsAndTheirEdges) {
    const std::pair<int32_t, int> cases[] = {{0, 0},       {127, 127},
                                             {128, 128},   {131, 128},
                                             {132, 129},   {255, 159},
                                             {256, 192},   {263, 192},
                                             {264, 193},   {511, 223},
                                             {512, 224},   {1023, 239},
                                             {1024, 248},  {1151, 248},
                                             {1152, 249},  {2047, 255},
                                             {2048, 252},  {4095, 252},
                                             {4096, 253},  {8191, 253},
                                             {8192, 254},  {16383, 254},
                                             {16384, 255}, {2147483647, 255},
                                             {-1, 255},    {-2147483647 - 1, 255}};
    for (const auto& [in, want] : cases) EXPECT_EQ(CompressedAmplitude(in), want) << in;
}

// Readers of click records take an amplitude byte back to the start of its step.
TEST(CompressedAmplitude, ReadersTakeEachCodeBackToTheStartOfItsStep) {
    for (int32_t v = 0; v < 2048; ++v) {
        const uint8_t code = CompressedAmplitude(v);
        const int32_t linear = tk1::LinearAmplitude(code);
        EXPECT_LE(linear, v) << v;
        EXPECT_EQ(CompressedAmplitude(linear), code) << v;
        if (linear > 0) {
            EXPECT_LT(CompressedAmplitude(linear - 1), code) << v;
        }
    }
}

}  // namespace
}  // namespace wtk
