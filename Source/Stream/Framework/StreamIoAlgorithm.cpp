#include "Stream/Framework/StreamIoAlgorithm.h"

#include "Host/Core/SettingsSchema.h"
#include "Stream/Framework/Stream.h"

namespace Corvexis {

StreamIoAlgorithm::StreamIoAlgorithm() = default;

StreamIoAlgorithm::~StreamIoAlgorithm() = default;

OwningDataList StreamIoAlgorithm::takeOutput()
{
    return StreamAlgorithmBase::takeOutput();
}

void StreamIoAlgorithm::describeCreationFlags(Properties& schema, bool open, bool start)
{
    SettingsSchema::add(schema, "open", open, "open the stream after creating it");
    SettingsSchema::add(schema, "start", start, "start the stream after opening it");
    SettingsSchema::add(schema, "autoOpen", open, "older name of open");
    SettingsSchema::add(schema, "connect", open, "older name of open");
    SettingsSchema::add(schema, "autoStart", start, "older name of start");
}

}  // namespace Corvexis
