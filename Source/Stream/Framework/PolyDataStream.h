#pragma once

#include <string>

#include "Host/Core/Flags.h"
#include "Stream/Framework/Stream.h"

namespace Corvexis {

// What a poly-data stream carries in its records.
enum class PolyDataType : unsigned
{
    Meshes = 1,
    PointClouds = 2,
};

using PolyDataTypes = Flags<PolyDataType>;

constexpr PolyDataTypes operator|(PolyDataType a, PolyDataType b)
{
    return PolyDataTypes(a) | PolyDataTypes(b);
}

// Abstract base of the streams whose records are PolyDataStreamData (meshes and point clouds). It adds
// the kind (Data::Kind::PolyDataStream) and the question what its records will hold; lifecycle, hooks
// and ownership are those of Stream (whoever created the stream owns it, usually the host's data model;
// records do not own it). No state or lock of its own.
//
// Threading: kind() and polyDataType() are thread-safe in every subclass.
class PolyDataStream : public Stream
{
public:
    explicit PolyDataStream(const std::string& name = "PolyData Stream");
    ~PolyDataStream() override;

    Kind kind() const override { return Kind::PolyDataStream; }

    // What the next records hold, as far as the stream knows beforehand; empty when it cannot say
    // (sources that learn it only from their device).
    virtual PolyDataTypes polyDataType() const { return {}; }
};

}  // namespace Corvexis
