#include "Host/Lib/Selection.h"

#include <algorithm>

namespace Corvexis {

Selection::Selection(std::vector<int> indices)
{
    indices.erase(std::remove_if(indices.begin(), indices.end(), [](int i) { return i < 0; }), indices.end());
    std::sort(indices.begin(), indices.end());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    indices_ = std::move(indices);
}

Selection Selection::fromFirstLastSkip(int first, int last, int skip)
{
    Selection selection;
    if (first < 0 || last < first)
        return selection;
    const long long step = static_cast<long long>(std::max(skip, 0)) + 1;
    selection.indices_.reserve(static_cast<std::size_t>((static_cast<long long>(last) - first) / step + 1));
    for (long long i = first; i <= last; i += step)
        selection.indices_.push_back(static_cast<int>(i));
    return selection;
}

bool Selection::isSelected(int index) const
{
    return std::binary_search(indices_.begin(), indices_.end(), index);
}

int Selection::first() const
{
    return indices_.empty() ? -1 : indices_.front();
}

int Selection::last() const
{
    return indices_.empty() ? -1 : indices_.back();
}

int Selection::skip() const
{
    if (indices_.size() < 2)
        return 0;
    const int gap = indices_[1] - indices_[0];
    for (std::size_t i = 2; i < indices_.size(); ++i)
        if (indices_[i] - indices_[i - 1] != gap)
            return 0;
    return gap - 1;
}

int Selection::nextSelected(int index) const
{
    const auto it = std::lower_bound(indices_.begin(), indices_.end(), index);
    return it == indices_.end() ? -1 : *it;
}

Selection Selection::clampedTo(int size) const
{
    Selection result;
    const auto end = std::lower_bound(indices_.begin(), indices_.end(), std::max(size, 0));
    result.indices_.assign(indices_.begin(), end);
    return result;
}

std::string Selection::toString() const
{
    if (indices_.empty())
        return "none";
    if (indices_.size() > 2 && skip() > 0)
        return std::to_string(first()) + "-" + std::to_string(last()) + " skip " + std::to_string(skip());
    if (indices_.size() > 2 && skip() == 0 && indices_.back() - indices_.front() + 1 == count())
        return std::to_string(first()) + "-" + std::to_string(last());
    std::string text;
    for (const int i : indices_)
        text += (text.empty() ? "" : ", ") + std::to_string(i);
    return text;
}

}  // namespace Corvexis
