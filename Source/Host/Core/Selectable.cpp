#include "Host/Core/Selectable.h"

#include <algorithm>

namespace Corvexis {

Selectable::~Selectable() = default;

Selectable::Selectable(const Selectable& other) : focus_(other.focus_.load())
{
    std::lock_guard lock(other.selectionMutex_);
    selection_ = other.selection_;
}

Selectable& Selectable::operator=(const Selectable& other)
{
    if (this != &other) {
        focus_ = other.focus_.load();
        std::scoped_lock lock(selectionMutex_, other.selectionMutex_);
        selection_ = other.selection_;
    }
    return *this;
}

int Selectable::focus() const
{
    return focus_.load();
}

void Selectable::setFocus(int index)
{
    focus_.store(index);
}

bool Selectable::hasValidFocus() const
{
    const int f = focus();
    return f >= 0 && f < size();
}

std::vector<int> Selectable::selection() const
{
    std::lock_guard lock(selectionMutex_);
    return selection_;
}

void Selectable::setSelection(std::vector<int> indices)
{
    std::erase_if(indices, [](int i) { return i < 0; });
    std::sort(indices.begin(), indices.end());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    std::lock_guard lock(selectionMutex_);
    selection_ = std::move(indices);
}

bool Selectable::isSelected(int index) const
{
    std::lock_guard lock(selectionMutex_);
    return std::binary_search(selection_.begin(), selection_.end(), index);
}

}  // namespace Corvexis
