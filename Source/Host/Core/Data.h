#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include <Eigen/Core>

#include "Host/Core/AlignedBox.h"
#include "Host/Core/DataComponentList.h"

namespace Corvexis {

// Abstract base of every item of the data model: images, image sets, meshes, tracking sequences and
// live streams. A data item has a name, a kind, a modality, a list of data components and a pose.
//
// Threading: name and pose are read by worker threads (a stream's worker names itself after its data
// item) and written from the user interface, so their accessors are thread-safe; mutex_ guards them.
// Operations on the component list: caller synchronises.
class Data
{
public:
    // What a data item is. The numeric values are persistent: they are stored in files and relied on by
    // streams and algorithms, so never renumber them.
    enum class Kind : int
    {
        Unknown = 0,
        Image = 1,         // one 2-D image
        Volume = 2,        // one 3-D image
        ImageSet = 3,      // several 2-D images (frames)
        VolumeSet = 4,     // several 3-D images
        ImageStream = 5,   // live 2-D images
        VolumeStream = 6,  // live 3-D images
        Mesh = 7,
        PointCloud = 8,
        TrackingStream = 9,     // live instrument poses
        TrackingSequence = 10,  // recorded instrument poses
        TrackedImageSet = 11,   // image set with a tracking sequence
        Compound = 12,          // an item made of other items
        PolyDataStream = 13,    // live meshes and point clouds
        // 14 is unassigned.
        EncodedImageStream = 15,  // image stream whose frames are not plain pixel images (for example
                                  // compressed packets); frame-wise image processing refuses it
    };

    // Imaging modality of the data. Persistent values, like Kind.
    enum class Modality : int
    {
        None = 0,
        Xray = 1,
        CT = 2,
        MR = 3,
        Ultrasound = 4,
        Video = 5,
        NM = 6,  // nuclear medicine
        Oct = 7,
        Label = 8,
        DistanceMap = 9,
    };

    // Matrix conventions returned by matrixConvention(): which transformation matrix() and setMatrix()
    // address.
    static constexpr int kMatrixToWorld = 0;    // data coordinates -> world coordinates
    static constexpr int kMatrixFromWorld = 1;  // world coordinates -> data coordinates

    explicit Data(std::string name = {});
    // Copies name, pose and components (cloned).
    Data(const Data& other);
    Data& operator=(const Data& other);
    virtual ~Data();

    virtual Kind kind() const = 0;
    // None unless a subclass knows better.
    virtual Modality modality() const;

    std::string name() const;               // thread-safe
    void setName(const std::string& name);  // thread-safe

    // Metadata of the item. Caller synchronises.
    DataComponentList& components() { return components_; }
    const DataComponentList& components() const { return components_; }

    // kMatrixToWorld unless a subclass says otherwise (streams use kMatrixFromWorld).
    virtual int matrixConvention() const;
    // The pose, stored as the transformation from data to world coordinates (identity initially). The
    // setters refuse a matrix that is not invertible or not finite, log a warning under "Data" and keep
    // the old pose. Thread-safe.
    virtual void setMatrixFromWorld(const Eigen::Matrix4d& m);
    virtual void setMatrixToWorld(const Eigen::Matrix4d& m);
    virtual Eigen::Matrix4d matrixFromWorld() const;
    virtual Eigen::Matrix4d matrixToWorld() const;
    // The matrix of the item's own convention (matrixConvention()). Thread-safe.
    virtual Eigen::Matrix4d matrix() const;
    virtual void setMatrix(const Eigen::Matrix4d& m);
    // True for items that annotate others (markers, labels) instead of carrying data. Default false.
    virtual bool isAnnotationType() const;
    // Extent in world millimetres; empty by default.
    virtual Geometry::AlignedBox bounds() const;

    // "None" gives "" (so that a description can start with the modality name); otherwise "X-Ray",
    // "CT", "MR", "Ultrasound", "Video", "NM", "OCT", "Label", "Distance Map"; "Unknown" for values
    // outside the enumeration.
    static std::string modalityString(Modality modality);
    // The inverse of modalityString (case-insensitive, "None" accepted); empty for an unknown text.
    static std::optional<Modality> modalityFromString(std::string_view text);
    // "Image", "Volume", ..., "Image Stream", ...; "Unknown" for values outside the enumeration.
    static std::string kindString(Kind kind);

private:
    mutable std::mutex mutex_;
    // guarded by mutex_
    std::string name_;
    Eigen::Matrix4d matrixToWorld_ = Eigen::Matrix4d::Identity();

    DataComponentList components_;
};

}  // namespace Corvexis
