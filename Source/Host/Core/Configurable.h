#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "Host/Core/Properties.h"
#include "Host/Core/Signal.h"

namespace Corvexis {

class ParameterBase;

// Something with registered parameters that are saved to and restored from Properties: every stream
// and algorithm. Subclasses override configure/configuration to add keys or sub-blocks of their own and
// call these first.
//
// Parameters are usually members of the subclass, registered in their constructor; they unregister
// themselves when destroyed. Registration and destruction are caller synchronises against configure and
// configuration on other threads (a parameter must not be destroyed while another thread uses it); all
// other operations are thread-safe. Not copyable or movable: parameters point at their owner.
class Configurable
{
public:
    Configurable();
    virtual ~Configurable();
    Configurable(const Configurable&) = delete;
    Configurable& operator=(const Configurable&) = delete;

    // Sets every registered parameter whose key `properties` holds (null: nothing). A value that does not
    // parse keeps the old value and logs a warning naming the key and the reason. Emits
    // signalParametersChanged once at the end when anything changed. Calling thread.
    virtual void configure(const Properties* properties);
    // Writes every parameter's value with its attributes ("label" and the others) into `properties`
    // (null: nothing), in registration order; other keys there stay. Thread-safe.
    virtual void configuration(Properties* properties) const;
    // Sets every parameter to its default; signals as configure. Calling thread.
    virtual void configureDefaults();
    // Describes every setting configure() reads into `schema` (null: nothing), in the form
    // SettingsSchema documents, so that hosts can list and check settings without knowing the class.
    // By default the registered parameters; subclasses that read further keys or sub-blocks call this
    // first and add theirs. Thread-safe.
    virtual void describeSettings(Properties* schema) const;

    // Adds `parameter` (ignored when null or already ours). Refused with a warning when it belongs to
    // another Configurable or its name is taken here. Thread-safe.
    void registerParameter(ParameterBase* parameter);
    // Removes `parameter` if registered here. Thread-safe.
    void unregisterParameter(ParameterBase* parameter);
    // Registration order. Thread-safe (the pointers are valid while the parameters live).
    std::vector<ParameterBase*> parameters() const;
    // The parameter named `name`, or nullptr. Thread-safe.
    ParameterBase* parameter(const std::string& name) const;

    // Emitted, without arguments, after parameters changed: once per single change, once per configure,
    // configureDefaults or ChangeBatch. On the thread that changed them.
    Signal<> signalParametersChanged;

    // Collects the parameter changes made on this thread while it lives into one signalParametersChanged,
    // emitted when it ends (if anything changed). Changes made on other threads meanwhile signal as
    // usual. Batches may nest. Caller synchronises: create and destroy on one thread.
    class ChangeBatch
    {
    public:
        explicit ChangeBatch(Configurable& owner);
        ~ChangeBatch();
        ChangeBatch(const ChangeBatch&) = delete;
        ChangeBatch& operator=(const ChangeBatch&) = delete;

    private:
        Configurable& owner_;
    };

private:
    friend class ParameterBase;
    // A registered parameter changed; on the changing thread, holding no lock.
    void parameterChanged();
    void emitParametersChanged();

    mutable std::mutex mutex_;
    // guarded by mutex_
    std::vector<ParameterBase*> parameters_;
};

}  // namespace Corvexis
