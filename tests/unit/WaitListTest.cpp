#include "driver/WaitList.h"

#include <gtest/gtest.h>

#include <vector>

namespace vemox {
namespace {

// Many commands, a few tasks each; tasks leave out of order, enough of them for the list to
// sweep its holes several times. What remains must keep its order and its grouping.
TEST(WaitList, KeepsOrderAndGroupsWhileTasksLeave) {
    constexpr int kCommands = 600;
    constexpr int kPerCommand = 3;
    std::vector<TCommand> commands(kCommands);
    std::vector<TQueuedTask> tasks(kCommands * kPerCommand);
    TWaitList list;
    for (int i = 0; i < kCommands * kPerCommand; ++i) {
        tasks[i].Command = &commands[i % kCommands];
        list.push_back(&tasks[i]);
    }
    ASSERT_EQ(list.size(), tasks.size());

    // Every command but each fifth leaves, with all its tasks, last task first.
    std::vector<TQueuedTask*> found;
    for (int c = 0; c < kCommands; ++c) {
        if (c % 5 == 0) {
            continue;
        }
        list.CollectTasks(&commands[c], found);
        ASSERT_EQ(found.size(), static_cast<std::size_t>(kPerCommand));
        for (int k = 0; k < kPerCommand; ++k) {
            ASSERT_EQ(found[k], &tasks[c + k * kCommands]) << "earliest appended first";
        }
        for (auto it = found.rbegin(); it != found.rend(); ++it) {
            list.Remove(*it);
        }
    }
    const std::vector<TQueuedTask*> left = list.Snapshot();
    ASSERT_EQ(list.size(), static_cast<std::size_t>(kCommands / 5 * kPerCommand));
    ASSERT_EQ(left.size(), list.size());
    for (std::size_t i = 1; i < left.size(); ++i) {
        EXPECT_LT(left[i - 1], left[i]) << "append order kept";
    }
    for (int c = 0; c < kCommands; c += 5) {
        list.CollectTasks(&commands[c], found);
        EXPECT_EQ(found.size(), static_cast<std::size_t>(kPerCommand));
        EXPECT_EQ(list.FirstTaskOf(&commands[c]), &tasks[c]);
    }
    EXPECT_EQ(list.FirstTaskOf(&commands[1]), nullptr);

    // Removal in the middle of a group, and through the visitor.
    list.Remove(&tasks[kCommands]);
    list.CollectTasks(&commands[0], found);
    EXPECT_EQ(found, (std::vector<TQueuedTask*>{&tasks[0], &tasks[2 * kCommands]}));
    // The visitor removes three tasks in four; each task is seen exactly once.
    const std::size_t before = list.size();
    std::vector<TQueuedTask*> seen;
    list.ForEachFromLast([&](TQueuedTask* task) {
        seen.push_back(task);
        if (seen.size() % 4 != 0) {
            list.Remove(task);
        }
    });
    EXPECT_EQ(seen.size(), before);
    for (std::size_t i = 1; i < seen.size(); ++i) {
        ASSERT_GT(seen[i - 1], seen[i]) << "from the last to the first, none twice";
    }
    EXPECT_EQ(list.size(), before / 4);
    list.ForEachFromLast([&](TQueuedTask* task) { list.Remove(task); });
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(list.Snapshot().empty());
}

} // namespace
} // namespace vemox
