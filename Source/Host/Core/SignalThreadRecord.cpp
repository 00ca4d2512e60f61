#include "Host/Core/SignalThreadRecord.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace Corvexis {

namespace {

// Every live thread's record. Never destroyed: threads may end (and unregister) after static
// destruction began.
struct Registry
{
    std::mutex mutex;
    // guarded by mutex
    std::vector<SignalThreadRecord*> records;
};

Registry& registry()
{
    static Registry* const instance = new Registry;
    return *instance;
}

thread_local SignalThreadRecord* tRecord = nullptr;

}  // namespace

// Unregisters and frees the calling thread's record when the thread ends. A separate thread_local,
// touched once at registration, so that tRecord stays trivially constructed and cheap to reach.
struct SignalThreadRecordRegistration
{
    ~SignalThreadRecordRegistration()
    {
        SignalThreadRecord* const record = tRecord;
        if (record == nullptr)
            return;
        {
            Registry& r = registry();
            std::lock_guard lock(r.mutex);
            std::erase(r.records, record);
        }
        tRecord = nullptr;
        delete record;
    }
};

namespace {
thread_local SignalThreadRecordRegistration tRegistration;
}

SignalThreadRecord& SignalThreadRecord::current()
{
    if (tRecord != nullptr) [[likely]]
        return *tRecord;
    auto* record = new SignalThreadRecord;
    {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        r.records.push_back(record);
    }
    tRecord = record;
    // Odr-use registers its destructor for this thread. An emission from another thread_local's
    // destructor after it ran registers a record that is then never freed; it stays empty and harmless.
    (void)&tRegistration;
    return *record;
}

SignalThreadRecord* SignalThreadRecord::currentIfAny() noexcept
{
    return tRecord;
}

bool SignalThreadRecord::isCalledOnOtherThread(const SignalSlot* slot)
{
    const SignalThreadRecord* const own = tRecord;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return std::any_of(r.records.begin(), r.records.end(), [&](const SignalThreadRecord* record) {
        return record != own && record->contains(slot);
    });
}

size_t SignalThreadRecord::registeredCount()
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.records.size();
}

bool SignalThreadRecord::contains(const SignalSlot* slot) const noexcept
{
    // Entries past the innermost emission are nullptr, so the whole chain can be scanned without
    // knowing the owner's depth.
    for (const Chunk* chunk = &first_; chunk != nullptr;
         chunk = chunk->next.load(std::memory_order_acquire)) {
        for (const Entry& entry : chunk->entries) {
            if (entry.load() == slot)
                return true;
        }
    }
    return false;
}

SignalThreadRecord::~SignalThreadRecord()
{
    Chunk* chunk = first_.next.load(std::memory_order_relaxed);
    while (chunk != nullptr) {
        Chunk* const next = chunk->next.load(std::memory_order_relaxed);
        delete chunk;
        chunk = next;
    }
}

void SignalThreadRecord::advance()
{
    Chunk* next = top_->next.load(std::memory_order_relaxed);
    if (next == nullptr) {
        next = new Chunk;
        next->previous = top_;
        top_->next.store(next, std::memory_order_release);
    }
    top_ = next;
    index_ = 0;
}

void SignalThreadRecord::retreat() noexcept
{
    top_ = top_->previous;
    index_ = kChunkSize;
}

}  // namespace Corvexis
