#include "Host/Core/TimestampDataComponent.h"

#include "Host/Core/Properties.h"

namespace Corvexis {

TimestampDataComponent::TimestampDataComponent(std::uint64_t timestampDeviceMs,
                                               std::uint64_t timestampArrivalMs)
    : timestampDeviceMs_(timestampDeviceMs), timestampArrivalMs_(timestampArrivalMs)
{
}

void TimestampDataComponent::configure(const Properties* p)
{
    if (!p)
        return;
    p->getParam("timestampDevice", timestampDeviceMs_);
    p->getParam("timestampArrival", timestampArrivalMs_);
}

void TimestampDataComponent::configuration(Properties* p) const
{
    if (!p)
        return;
    p->setParam("timestampDevice", timestampDeviceMs_);
    p->setParam("timestampArrival", timestampArrivalMs_);
}

}  // namespace Corvexis
