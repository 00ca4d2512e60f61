#pragma once

#include <atomic>
#include <mutex>
#include <vector>

namespace Corvexis {

// The part of a data item whose elements (frames of a set, images of a stream record) can be chosen:
// one focused element, which views show and a stream describes, and a selection of elements. A mix-in
// next to Data.
//
// Threading: the focus is written from the user interface and read by a producer's thread for every
// frame, so it is atomic; the selection is guarded by selectionMutex_. All operations are thread-safe.
class Selectable
{
public:
    virtual ~Selectable();

    // Number of selectable elements.
    virtual int size() const = 0;

    // The focused element, 0 initially; it may be out of range while the elements change.
    virtual int focus() const;
    // Stores the focus as given; subclasses clamp or act on it (a video file seeks). Thread-safe.
    virtual void setFocus(int index);
    // True when 0 <= focus() < size().
    bool hasValidFocus() const;

    // Selected element indices, ascending and without repeats.
    std::vector<int> selection() const;
    // Sets the selection; negative indices and repeats are dropped, the rest sorted.
    void setSelection(std::vector<int> indices);
    bool isSelected(int index) const;

protected:
    Selectable() = default;
    Selectable(const Selectable& other);
    Selectable& operator=(const Selectable& other);

private:
    std::atomic<int> focus_{0};

    mutable std::mutex selectionMutex_;
    // guarded by selectionMutex_
    std::vector<int> selection_;
};

}  // namespace Corvexis
