#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "Host/Core/Configurable.h"
#include "Host/Core/OwningDataList.h"
#include "Host/Core/Signal.h"

namespace Corvexis {

// Base of every host algorithm: configured through its parameters (Configurable), run by compute(),
// which sets a status, and handing its results over through takeOutput(). Algorithms may also offer
// named actions (buttons of a user interface; the host application runs them by name).
//
// Threading: compute, takeOutput and configure are caller synchronises (the host runs them on one
// thread); status, actions and runAction are thread-safe.
class Algorithm : public Configurable
{
public:
    // Persistent values: 0 and 1 are relied on by plug-ins.
    enum class Status : int
    {
        Unknown = -1,  // not computed yet
        Success = 0,
        Error = 1,
        InvalidInput = 2,
        IncompleteInput = 3,
        OutOfMemory = 4,
    };

    struct Action
    {
        std::string id;     // what runAction takes, e.g. "addMesh"
        std::string label;  // what a person reads, e.g. "Add mesh"
    };

    Algorithm();
    ~Algorithm() override;

    // Runs the algorithm and sets the status. Caller synchronises.
    virtual void compute() = 0;
    // Hands over the results of the last compute; empty by default and after the output was taken.
    // Caller synchronises.
    virtual OwningDataList takeOutput();

    Status status() const;  // thread-safe
    static std::string statusToString(Status status);

    // Registered actions in registration order. Thread-safe.
    std::vector<Action> actions() const;
    // Runs the action `id` on the calling thread; false when there is none or it reported failure.
    // Thread-safe (the action itself decides what it may touch).
    bool runAction(const std::string& id);

    // Emitted after the output of the algorithm changed (a new result is ready to be taken), on the
    // thread that produced it.
    Signal<> signalOutputChanged;

protected:
    void setStatus(Status status);  // thread-safe
    // Adds or replaces the action `id`. Thread-safe.
    void registerAction(const std::string& id, const std::string& label, std::function<bool()> run);

private:
    struct RegisteredAction
    {
        Action action;
        std::function<bool()> run;
    };

    mutable std::mutex mutex_;
    // guarded by mutex_
    Status status_ = Status::Unknown;
    std::vector<RegisteredAction> actions_;
};

}  // namespace Corvexis
