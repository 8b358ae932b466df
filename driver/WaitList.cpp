#include "driver/WaitList.h"

#include <algorithm>

namespace vemox {

namespace {
// Holes are swept out once they outnumber the tasks, so each removal costs O(1) amortized.
constexpr std::size_t kMinHolesToCompact = 64;
} // namespace

void TWaitList::push_back(TQueuedTask* task) {
    if (!task) {
        return;
    }
    auto& group = byCommand_[task->Command];
    group.reserve(group.size() + 1);
    slots_.push_back(task);
    group.push_back({task, slots_.size() - 1});
    ++live_;
}

void TWaitList::CollectTasks(const TCommand* command, std::vector<TQueuedTask*>& out) const {
    out.clear();
    const auto found = byCommand_.find(command);
    if (found == byCommand_.end()) {
        return;
    }
    for (const Entry& entry : found->second) {
        out.push_back(entry.task);
    }
}

TQueuedTask* TWaitList::FirstTaskOf(const TCommand* command) const noexcept {
    const auto found = byCommand_.find(command);
    return found == byCommand_.end() || found->second.empty() ? nullptr
                                                              : found->second.front().task;
}

void TWaitList::Remove(TQueuedTask* task) noexcept {
    if (!task) {
        return;
    }
    const auto found = byCommand_.find(task->Command);
    if (found == byCommand_.end()) {
        return;
    }
    auto& group = found->second;
    const auto entry =
        std::find_if(group.begin(), group.end(), [task](const Entry& e) { return e.task == task; });
    if (entry == group.end()) {
        return;
    }
    slots_[entry->slot] = nullptr;
    group.erase(entry);
    if (group.empty()) {
        byCommand_.erase(found);
    }
    --live_;
    SweepIfWorthIt();
}

void TWaitList::SweepIfWorthIt() noexcept {
    const std::size_t holes = slots_.size() - live_;
    if (!visiting_ && holes >= kMinHolesToCompact && holes > live_) {
        Compact();
    }
}

void TWaitList::Compact() noexcept {
    std::size_t next = 0;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        TQueuedTask* task = slots_[i];
        if (!task) {
            continue;
        }
        slots_[next] = task;
        const auto group = byCommand_.find(task->Command);
        if (group != byCommand_.end()) {
            for (Entry& entry : group->second) {
                if (entry.task == task) {
                    entry.slot = next;
                    break;
                }
            }
        }
        ++next;
    }
    slots_.resize(next);
}

std::vector<TQueuedTask*> TWaitList::Snapshot() const {
    std::vector<TQueuedTask*> out;
    out.reserve(live_);
    for (TQueuedTask* task : slots_) {
        if (task) {
            out.push_back(task);
        }
    }
    return out;
}

void TWaitList::clear() noexcept {
    slots_.clear();
    byCommand_.clear();
    live_ = 0;
}

} // namespace vemox
