#include "Stream/Framework/OutStream.h"

#include "Host/Core/Log.h"
#include "Stream/Framework/StreamData.h"

namespace Corvexis {

OutStream::OutStream(OutputConnection& connection, const std::string& name)
    : Stream(name), connection_(connection)
{
}

OutStream::~OutStream()
{
    close();
}

void OutStream::sendStreamData(const StreamData& data) const
{
    if (currentState() != State::Running)
        return;
    const Stream* producer = data.stream();
    if (producer && connection_.isCompatible(producer->kind()))
        connection_.sendStreamData(data);
    else
        Log::log(Log::Level::Debug, "Stream",
                 "OutputConnection does not support " + name() + "'s StreamData kind.");
}

}  // namespace Corvexis
