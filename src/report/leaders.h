// The entries with the highest count, at most `most`, in the order they came among equal counts (as a
// stable sort by count would leave them); the others only counted. A list of the worst of countless
// entries costs time, never memory.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvanta::report {

template <typename Entry>
class Leaders {
public:
    explicit Leaders(std::size_t most) : most_(most) {}
    void offer(const Entry& entry) {
        const auto at = static_cast<std::size_t>(
            std::upper_bound(kept_.begin(), kept_.end(), entry.count,
                             [](auto count, const Entry& kept) { return count > kept.count; }) -
            kept_.begin());
        if (kept_.size() == most_) {
            ++left_;
            if (at == kept_.size()) return;
            kept_.pop_back();
        }
        kept_.insert(kept_.begin() + static_cast<std::ptrdiff_t>(at), entry);
    }
    const std::vector<Entry>& kept() const { return kept_; }
    std::int64_t left() const { return left_; }

private:
    std::size_t most_;
    std::vector<Entry> kept_;
    std::int64_t left_ = 0;
};

}  // namespace orvanta::report
