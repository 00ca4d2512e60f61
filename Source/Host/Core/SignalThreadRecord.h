#pragma once

#include <array>
#include <atomic>
#include <cstddef>

namespace Corvexis {

class SignalSlot;

// Which signal callables a thread is running right now: one entry per emission in progress on the
// thread (nested emissions stack up), holding the slot whose callable that emission is calling, or
// nullptr between calls. Every thread that emits gets one record, registered process-wide until the
// thread ends, so that a disconnecting thread can see whether a callable is running elsewhere without
// emissions paying for a shared counter.
//
// Entries are written only by the owning thread (seq_cst when a call starts, release when it ends) and
// read by any thread; the stack shape (push/pop) is the owning thread's alone.
class SignalThreadRecord
{
public:
    using Entry = std::atomic<const SignalSlot*>;

    // The calling thread's record, created and registered on first use. Thread-safe.
    static SignalThreadRecord& current();
    // The calling thread's record, or nullptr when this thread never emitted. Thread-safe.
    static SignalThreadRecord* currentIfAny() noexcept;
    // True when a thread other than the calling one is inside `slot`'s callable. Thread-safe.
    static bool isCalledOnOtherThread(const SignalSlot* slot);
    // Number of registered records (threads that emitted and have not ended). Thread-safe.
    static size_t registeredCount();

    // The entry of a new emission on this thread; allocates only when nesting goes deeper than ever
    // before on this thread. Caller synchronises: the owning thread only.
    Entry& push()
    {
        if (index_ == kChunkSize) [[unlikely]]
            advance();
        return top_->entries[index_++];
    }
    // Ends the innermost emission, whose entry the caller has reset to nullptr. Caller synchronises:
    // the owning thread only.
    void pop() noexcept
    {
        --index_;
        if (index_ == 0 && top_->previous != nullptr) [[unlikely]]
            retreat();
    }

    // True when some emission of this record's thread is inside `slot`'s callable. Thread-safe.
    bool contains(const SignalSlot* slot) const noexcept;

    SignalThreadRecord(const SignalThreadRecord&) = delete;
    SignalThreadRecord& operator=(const SignalThreadRecord&) = delete;

private:
    static constexpr int kChunkSize = 16;

    struct Chunk
    {
        std::array<Entry, kChunkSize> entries{};
        // Written by the owning thread, read by scanning threads; chunks live as long as the record.
        std::atomic<Chunk*> next{nullptr};
        Chunk* previous = nullptr;  // owning thread only
    };

    SignalThreadRecord() = default;
    ~SignalThreadRecord();

    void advance();
    void retreat() noexcept;

    friend struct SignalThreadRecordRegistration;

    Chunk first_;
    // Owning thread only: the chunk holding the innermost emission and the number of its entries in use.
    // index_ is 0 only in the first chunk, when no emission runs.
    Chunk* top_ = &first_;
    int index_ = 0;
};

}  // namespace Corvexis
