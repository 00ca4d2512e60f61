#include "Host/Core/CompoundData.h"

#include <algorithm>

namespace Corvexis {

CompoundData::~CompoundData() = default;

CompoundData::CompoundData(const CompoundData& other)
{
    std::lock_guard lock(other.mutex_);
    contents_ = other.contents_;
}

CompoundData::CompoundData(CompoundData&& other) noexcept
{
    std::lock_guard lock(other.mutex_);
    contents_ = std::move(other.contents_);
    other.contents_.clear();
}

CompoundData& CompoundData::operator=(const CompoundData& other)
{
    if (this != &other) {
        std::scoped_lock lock(mutex_, other.mutex_);
        contents_ = other.contents_;
    }
    return *this;
}

CompoundData& CompoundData::operator=(CompoundData&& other) noexcept
{
    if (this != &other) {
        std::scoped_lock lock(mutex_, other.mutex_);
        contents_ = std::move(other.contents_);
        other.contents_.clear();
    }
    return *this;
}

DataList CompoundData::containedData() const
{
    std::lock_guard lock(mutex_);
    return DataList(contents_);
}

bool CompoundData::addContent(Data* item)
{
    if (!item)
        return false;
    std::lock_guard lock(mutex_);
    if (std::find(contents_.begin(), contents_.end(), item) != contents_.end())
        return false;
    contents_.push_back(item);
    return true;
}

bool CompoundData::removeContent(const Data* item)
{
    std::lock_guard lock(mutex_);
    auto it = std::find(contents_.begin(), contents_.end(), item);
    if (it == contents_.end())
        return false;
    contents_.erase(it);
    return true;
}

bool CompoundData::containsContent(const Data* item) const
{
    std::lock_guard lock(mutex_);
    return std::find(contents_.begin(), contents_.end(), item) != contents_.end();
}

std::size_t CompoundData::contentCount() const
{
    std::lock_guard lock(mutex_);
    return contents_.size();
}

}  // namespace Corvexis
