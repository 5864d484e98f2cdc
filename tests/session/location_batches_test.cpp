// Location batches run side by side: every output receives the groups' texts in group order,
// whichever batch finishes first, also when held text goes to temporary files.
#include "session/location_batches.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace wtk {
namespace {

struct Collected {
    std::vector<std::string> outputs = std::vector<std::string>(2);
    std::vector<size_t> writesSeen;  // the output of every sink call, in order
};

OrderedOutput::Sink Into(Collected& c) {
    return [&c](size_t output, std::string_view bytes) {
        c.outputs.at(output).append(bytes);
        c.writesSeen.push_back(output);
    };
}

TEST(OrderedOutput, GroupsComeOutInOrderWhateverFinishesFirst) {
    for (const size_t memoryLimit : {size_t{1} << 20, size_t{0}, size_t{5}}) {
        SCOPED_TRACE(memoryLimit);
        Collected c;
        {
            OrderedOutput out(3, 2, Into(c), memoryLimit);
            out.Write(2, 0, "c1 ");
            out.Write(1, 1, "b-err ");
            out.Write(0, 0, "a1 ");  // the head writes straight through
            EXPECT_EQ(c.outputs[0], "a1 ");
            out.Write(2, 1, "c-err ");
            out.Finish(2);
            out.Write(1, 0, "b1 ");
            out.Write(0, 0, "a2 ");
            out.Finish(0);  // b's held text follows a's at once, c's waits for b
            EXPECT_EQ(c.outputs[0], "a1 a2 b1 ");
            out.Write(1, 0, "b2 ");
            EXPECT_EQ(c.outputs[0], "a1 a2 b1 b2 ");
            out.Finish(1);
            EXPECT_FALSE(out.Lost());
        }
        EXPECT_EQ(c.outputs[0], "a1 a2 b1 b2 c1 ");
        EXPECT_EQ(c.outputs[1], "b-err c-err ");
    }
}

TEST(OrderedOutput, BatchesOnManyThreadsKeepGroupOrder) {
    constexpr size_t kGroups = 9;
    Collected c;
    {
        OrderedOutput out(kGroups, 2, Into(c), 64);
        // Later groups are quicker, so most finish before the ones ahead of them.
        RunLocationBatches(kGroups, 4, [&](size_t g) {
            for (int line = 0; line < 20; ++line) {
                out.Write(g, line % 2, std::to_string(g) + "." + std::to_string(line) + " ");
                std::this_thread::sleep_for(std::chrono::microseconds(50 * (kGroups - g)));
            }
            out.Finish(g);
        });
        EXPECT_FALSE(out.Lost());
    }
    std::string expect[2];
    for (size_t g = 0; g < kGroups; ++g) {
        for (int line = 0; line < 20; ++line) {
            expect[line % 2] += std::to_string(g) + "." + std::to_string(line) + " ";
        }
    }
    EXPECT_EQ(c.outputs[0], expect[0]);
    EXPECT_EQ(c.outputs[1], expect[1]);
}

}  // namespace
}  // namespace wtk
