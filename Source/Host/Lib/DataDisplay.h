#pragma once

#include <string>
#include <vector>

namespace Corvexis {

class Data;

// One data item shown on one host view, made by the DataDisplayHandler that knows the item's kind. In
// the headless host a view is three things: the status line printed every second, the summary printed
// at the end of a run, and the snapshot files written on request. Graphical hosts would draw the item
// instead; the protocol is the same: create, watch, ask, destroy.
//
// A display borrows its item, which must outlive it. Threading: caller synchronises (the host's
// user-interface thread); implementations may gather what they show on other threads (a stream's
// emitting thread) and guard it themselves.
class DataDisplay
{
public:
    DataDisplay();
    virtual ~DataDisplay();
    DataDisplay(const DataDisplay&) = delete;
    DataDisplay& operator=(const DataDisplay&) = delete;

    // The item shown.
    virtual Data& data() const = 0;

    // Starts and ends the window whose data the summary describes; a display shows nothing of the
    // summary before startWatching().
    virtual void startWatching() = 0;
    virtual void stopWatching() = 0;

    // One line on the item's current state, without a line break.
    virtual std::string statusLine() const = 0;
    // Whether the item is producing data now (a stream between its start and its stop or end); false
    // by default, for items that never do.
    virtual bool isActive() const;
    // The lines that sum up the watched window, without line breaks.
    virtual std::vector<std::string> summary() const = 0;

    // Writes what the view shows now into files in the existing directory `directory`, named after the
    // item; appends each written path to *written. False with *error when something could not be
    // written; a display with nothing to show writes nothing and returns true.
    virtual bool snapshot(const std::string& directory, std::vector<std::string>* written,
                          std::string* error) = 0;

    // The requests a view offers for the item as controls (a stream's "open", "start", "pause",
    // "resume", "stop", "close"); none by default.
    virtual std::vector<std::string> requests() const;
    // Carries out the request `name`; false when it is not offered or was refused.
    virtual bool request(const std::string& name);
};

}  // namespace Corvexis
