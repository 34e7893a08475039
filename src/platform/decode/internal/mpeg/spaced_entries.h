#pragma once

// Private to the platform module.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tampod {

// Entries noted in the order of their positions (an Entry's int64_t position), one kept every
// spacing at most, bounded in memory: whenever they reach their limit, every other one goes and
// the spacing doubles. The places an MP3 stream's decode may restart at are kept so.
template <typename Entry>
class SpacedEntries {
public:
    static constexpr size_t limit = 4096;

    explicit SpacedEntries(int64_t spacing) : spacing_(std::max<int64_t>(spacing, 1)) {}

    // Keeps entry where it lies at least the spacing past the last one kept.
    void note(const Entry &entry)
    {
        if (!entries_.empty() && entry.position < entries_.back().position + spacing_)
            return;
        entries_.push_back(entry);
        if (entries_.size() < limit)
            return;
        for (size_t i = 0; 2 * i < entries_.size(); ++i)
            entries_[i] = entries_[2 * i];
        entries_.resize((entries_.size() + 1) / 2);
        spacing_ *= 2;
    }

    const std::vector<Entry> &entries() const { return entries_; }

    // The first entry past position.
    typename std::vector<Entry>::const_iterator after(int64_t position) const
    {
        return std::upper_bound(entries_.begin(), entries_.end(), position,
                                [](int64_t at, const Entry &e) { return at < e.position; });
    }

    // What the entries hold in memory besides themselves.
    size_t memoryBytes() const { return entries_.capacity() * sizeof(Entry); }

private:
    std::vector<Entry> entries_;
    int64_t spacing_;
};

} // namespace tampod
