#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Stream/Framework/StreamData.h"

namespace Corvexis {

class Mesh;
class PointCloud;
class PolyDataStream;

// A record of meshes and point clouds. The geometry is immutable and shared between copies; the record
// does not own its stream. Caller synchronises while building; read-only once emitted.
class PolyDataStreamData : public StreamData
{
public:
    explicit PolyDataStreamData(Stream* stream);
    PolyDataStreamData(const PolyDataStreamData& other);
    ~PolyDataStreamData() override;

    std::unique_ptr<StreamData> clone() const override;

    // The producing stream as a poly-data stream, or null (no stream, or another kind).
    PolyDataStream* polyDataStream() const;

    virtual std::string name() const { return name_; }
    // Copies of the vectors, sharing the geometry.
    virtual std::vector<std::shared_ptr<const Mesh>> meshes() const { return meshes_; }
    virtual std::vector<std::shared_ptr<const PointCloud>> pointClouds() const { return pointClouds_; }
    virtual void setName(const std::string& name) { name_ = name; }
    virtual void setMeshes(std::vector<std::shared_ptr<const Mesh>> meshes) { meshes_ = std::move(meshes); }
    virtual void setPointClouds(std::vector<std::shared_ptr<const PointCloud>> clouds)
    {
        pointClouds_ = std::move(clouds);
    }

private:
    std::string name_;
    std::vector<std::shared_ptr<const Mesh>> meshes_;
    std::vector<std::shared_ptr<const PointCloud>> pointClouds_;
};

}  // namespace Corvexis
