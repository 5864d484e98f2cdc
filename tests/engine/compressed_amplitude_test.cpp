#include <gtest/gtest.h>

#include "engine/sample_processor.h"

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

}  // namespace
}  // namespace wtk
