#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Host/Core/Data.h"
#include "Host/Core/ElementwiseDataComponentData.h"
#include "Host/Core/Properties.h"
#include "Host/Core/Selectable.h"
#include "Host/Lib/Image.h"
#include "Host/Lib/Selection.h"
#include "Host/Lib/SharedImage.h"

namespace Corvexis {

// An ordered list of frames (shared images), each with an optional timestamp in milliseconds and its
// own data components (the elementwise list, kept index-aligned with the frames), plus the set's name,
// modality, data components, properties (for example "topDown", "liveRecordingPath") and, as a
// Selectable, a focused frame and a selection. A data item of kind image, volume, image set or volume
// set, depending on the frames.
//
// Frames are shared: the set holds std::shared_ptr<SharedImage>, and whoever else holds a frame sees
// changes to it. Threading: caller synchronises, except what Data and Selectable state as thread-safe
// (name, pose, focus, selection).
class SharedImageSet : public Data, public Selectable, public ElementwiseDataComponentData
{
public:
    explicit SharedImageSet(std::string name = {});
    // Takes over frames, timestamps, components, properties, focus and selection; `other` is left
    // empty (its name is kept).
    SharedImageSet(SharedImageSet&& other) noexcept;
    SharedImageSet(const SharedImageSet&) = delete;
    SharedImageSet& operator=(const SharedImageSet&) = delete;
    ~SharedImageSet() override;

    // A new set with every frame copied as `options` says (Image::CloneOptions::Shallow shares pixel
    // storage), and the same timestamps, name, modality, pose, components, elementwise components,
    // properties, focus and selection.
    std::unique_ptr<SharedImageSet> clone(Image::CloneOptions options = Image::CloneOptions::Deep) const;

    // Image (one 2-D frame), Volume (one 3-D frame), ImageSet (several 2-D frames, or none), VolumeSet
    // (several, the first 3-D).
    Kind kind() const override;
    Modality modality() const override { return modality_; }
    void setModality(Modality modality) { modality_ = modality; }

    // Number of frames.
    int size() const override { return static_cast<int>(images_.size()); }
    bool empty() const { return images_.empty(); }
    void reserve(std::size_t frames);

    // Appends a frame with an optional timestamp (ms) and an empty elementwise component list. A null
    // image is refused (false, error).
    bool add(std::shared_ptr<SharedImage> image, std::optional<double> timestampMs = std::nullopt);
    // Inserts before `index` (appends when index >= size()). False for a null image or negative index.
    bool insert(int index, std::shared_ptr<SharedImage> image,
                std::optional<double> timestampMs = std::nullopt);
    // Replaces the frame at `index`, keeping its timestamp and components. False when out of range or null.
    bool replace(int index, std::shared_ptr<SharedImage> image);
    // Removes frame `index` with its timestamp and components. False when out of range.
    bool remove(int index);
    // Removes every frame.
    void clear();

    // The frame at `index`, or the focused frame for -1; null when out of range.
    std::shared_ptr<SharedImage> get(int index = -1) const;
    const std::vector<std::shared_ptr<SharedImage>>& images() const { return images_; }

    // Timestamp of frame `index` in milliseconds; empty when not set or out of range.
    std::optional<double> timestamp(int index) const;
    // False when out of range.
    bool setTimestamp(int index, double timestampMs);
    bool clearTimestamp(int index);
    // True when there is at least one frame and every frame has a timestamp.
    bool hasTimestamps() const;

    Properties& properties() { return properties_; }
    const Properties& properties() const { return properties_; }

    // The Selectable selection as a Selection, and back.
    Selection frameSelection() const { return Selection(selection()); }
    void setFrameSelection(const Selection& selection) { setSelection(selection.indices()); }

    // Brings every frame up to date in main memory / on the graphics card.
    void syncMem() const;
    void syncGl() const;

    // Bytes of pixels of all frames (by their descriptors).
    std::size_t byteSize() const;

private:
    Modality modality_ = Modality::None;
    std::vector<std::shared_ptr<SharedImage>> images_;
    std::vector<std::optional<double>> timestampsMs_;  // index-aligned with images_
    Properties properties_;
};

}  // namespace Corvexis
