#pragma once

#include <memory>
#include <string>

namespace Corvexis {

class Data;
class DataDisplay;

// Knows how to show one kind of data item on the host's views. Plug-ins register their handlers with
// the DataDisplayHandlerFactory under a name; the host asks the factory for a display of each item it
// shows. Thread-safe: a handler holds no state of its own.
class DataDisplayHandler
{
public:
    DataDisplayHandler();
    virtual ~DataDisplayHandler();
    DataDisplayHandler(const DataDisplayHandler&) = delete;
    DataDisplayHandler& operator=(const DataDisplayHandler&) = delete;

    // Whether this handler shows `data`.
    virtual bool canShow(const Data& data) const = 0;
    // A new display of `data` (borrowed; it must outlive the display), or null when it cannot show it.
    virtual std::unique_ptr<DataDisplay> createDisplay(Data& data) const = 0;
};

}  // namespace Corvexis
