// The tasks served by queued requests, in the order they were appended, indexed by the
// request that serves them: a reply finds its own tasks and takes them out at a cost that
// does not grow with the number of other tasks waiting.
#pragma once

#include "driver/Registry.h"

#include <cstddef>
#include <unordered_map>
#include <vector>

namespace vemox {

class TWaitList {
public:
    // Appends a task; its Command must be set and must not change while it waits.
    void push_back(TQueuedTask* task);

    void reserve(std::size_t count) { slots_.reserve(count); }
    std::size_t size() const noexcept { return live_; }
    bool empty() const noexcept { return live_ == 0; }

    // Replaces `out` with the command's tasks, earliest appended first.
    void CollectTasks(const TCommand* command, std::vector<TQueuedTask*>& out) const;
    // The command's earliest task, or nil when it serves none.
    TQueuedTask* FirstTaskOf(const TCommand* command) const noexcept;

    // Takes the task out of the list (it is not freed).
    void Remove(TQueuedTask* task) noexcept;

    // The waiting tasks in list order.
    std::vector<TQueuedTask*> Snapshot() const;

    // Visits the tasks from the last appended to the first; the visitor may Remove the task
    // it is given.
    template <typename Visit> void ForEachFromLast(Visit visit) {
        visiting_ = true; // no sweeping while positions are being walked
        try {
            for (std::size_t i = slots_.size(); i-- > 0;) {
                if (TQueuedTask* task = slots_[i]) {
                    visit(task);
                }
            }
        } catch (...) {
            visiting_ = false;
            throw;
        }
        visiting_ = false;
        SweepIfWorthIt();
    }

    // Forgets every task without freeing any.
    void clear() noexcept;

private:
    struct Entry {
        TQueuedTask* task;
        std::size_t slot;
    };
    void SweepIfWorthIt() noexcept;
    void Compact() noexcept;

    std::vector<TQueuedTask*> slots_; // list order; nil where a task has left
    std::unordered_map<const TCommand*, std::vector<Entry>> byCommand_;
    std::size_t live_ = 0;
    bool visiting_ = false;
};

} // namespace vemox
