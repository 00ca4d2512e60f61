#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "Host/Core/DataComponentBase.h"

namespace Corvexis {

// An ordered list of owned components. Copying clones every component, so a copy never shares
// metadata with its source; moving transfers them. Several components of one type may be present;
// get<T>() returns the first. Caller synchronises.
class DataComponentList
{
public:
    DataComponentList() = default;
    DataComponentList(const DataComponentList& other);
    DataComponentList& operator=(const DataComponentList& other);
    DataComponentList(DataComponentList&&) noexcept = default;
    DataComponentList& operator=(DataComponentList&&) noexcept = default;
    ~DataComponentList();

    // Appends `component` and returns it (owned by the list); null is ignored and returns null.
    DataComponentBase* add(std::unique_ptr<DataComponentBase> component);
    template <typename T>
    T* add(std::unique_ptr<T> component)
    {
        T* raw = component.get();
        add(std::unique_ptr<DataComponentBase>(std::move(component)));
        return raw;
    }
    // Appends a new T built from `args`.
    template <typename T, typename... Args>
    T& emplace(Args&&... args)
    {
        return *add(std::make_unique<T>(std::forward<Args>(args)...));
    }

    // The first component of dynamic type T (or derived from it), or null.
    template <typename T>
    T* get()
    {
        for (auto& c : components_) {
            if (auto* t = dynamic_cast<T*>(c.get()))
                return t;
        }
        return nullptr;
    }
    template <typename T>
    const T* get() const
    {
        return const_cast<DataComponentList*>(this)->get<T>();
    }
    // Every component of type T, in list order.
    template <typename T>
    std::vector<T*> getAll() const
    {
        std::vector<T*> result;
        for (const auto& c : components_) {
            if (auto* t = dynamic_cast<T*>(c.get()))
                result.push_back(t);
        }
        return result;
    }
    // The first T, appending a default-constructed one when there is none.
    template <typename T>
    T& getOrCreate()
    {
        if (T* t = get<T>())
            return *t;
        return emplace<T>();
    }
    // Removes every component of type T; returns how many were removed.
    template <typename T>
    std::size_t remove()
    {
        return removeIf([](const DataComponentBase& c) { return dynamic_cast<const T*>(&c) != nullptr; });
    }
    // Removes this very component; false when it is not in the list.
    bool remove(const DataComponentBase* component);
    // The first component whose id() equals `id`, or null.
    DataComponentBase* getById(const std::string& id) const;

    std::vector<DataComponentBase*> all() const;
    std::size_t size() const { return components_.size(); }
    bool empty() const { return components_.empty(); }
    void clear() { components_.clear(); }

    // Writes one sub-block per component, named by its id(), in list order.
    void configuration(Properties* p) const;
    // Replaces the list by the components of `p`'s sub-blocks whose names are registered component
    // types (DataComponentRegistry); unknown blocks are skipped with a warning. Null does nothing.
    void configure(const Properties* p);

private:
    template <typename Pred>
    std::size_t removeIf(Pred pred)
    {
        std::size_t removed = 0;
        for (auto it = components_.begin(); it != components_.end();) {
            if (pred(**it)) {
                it = components_.erase(it);
                ++removed;
            } else {
                ++it;
            }
        }
        return removed;
    }

    std::vector<std::unique_ptr<DataComponentBase>> components_;
};

}  // namespace Corvexis
