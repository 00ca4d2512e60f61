#pragma once

#include <string>
#include <vector>

namespace Corvexis {

// A set of frame indices: either a regular range (first, last, every (skip + 1)-th index) or explicit
// indices. Indices are non-negative, kept ascending and without repeats. A plain value; caller
// synchronises.
class Selection
{
public:
    // Nothing selected.
    Selection() = default;
    // Explicit indices; negative ones and repeats are dropped, the rest sorted.
    explicit Selection(std::vector<int> indices);

    // first, first + skip + 1, first + 2 (skip + 1), ... up to and including last. Empty when first is
    // negative or last < first; a negative skip counts as 0.
    static Selection fromFirstLastSkip(int first, int last, int skip = 0);

    bool isEmpty() const { return indices_.empty(); }
    int count() const { return static_cast<int>(indices_.size()); }
    const std::vector<int>& indices() const { return indices_; }
    bool isSelected(int index) const;

    // Smallest and largest selected index; -1 when empty.
    int first() const;
    int last() const;
    // Indices skipped between two selected ones: the skip given to fromFirstLastSkip, or for explicit
    // indices the common gap minus one when they are evenly spaced, else 0.
    int skip() const;

    // The first selected index >= `index`, or -1 when there is none.
    int nextSelected(int index) const;
    // The selection without the indices >= `size` (for a container of `size` frames).
    Selection clampedTo(int size) const;

    bool operator==(const Selection& other) const { return indices_ == other.indices_; }
    bool operator!=(const Selection& other) const { return !(*this == other); }

    // "3-9 skip 2" for a regular range, "3, 4, 7" otherwise, "none" when empty.
    std::string toString() const;

private:
    std::vector<int> indices_;
};

}  // namespace Corvexis
