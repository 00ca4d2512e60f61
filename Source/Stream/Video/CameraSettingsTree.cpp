#include "Stream/Video/CameraSettingsTree.h"

#include <algorithm>
#include <any>
#include <memory>
#include <string>

#include "Stream/Video/VideoCameraStream.h"
#include "Stream/Video/VideoStreamSettings.h"

namespace Corvexis {

namespace {

using namespace VideoStreamSettings;

template <typename T>
std::shared_ptr<T> settingsOf(VideoCameraStream& camera)
{
    const std::any found = camera.getSettings(T::property_name);
    if (const auto* object = std::any_cast<std::shared_ptr<T>>(&found))
        return *object;
    return nullptr;
}

void writeNumber(Properties& block, const VideoCameraSettingDouble& setting)
{
    block.setParam("value", setting.value());
    block.setParam("minimum", setting.minimum());
    block.setParam("maximum", setting.maximum());
}

void writeRegion(Properties& block, const std::string& prefix, const Region& region)
{
    block.setParam(prefix + "x", region.x);
    block.setParam(prefix + "y", region.y);
    block.setParam(prefix + "w", region.w);
    block.setParam(prefix + "h", region.h);
}

void writeRegionSettings(Properties& block, const RegionOfInterest& roi)
{
    writeRegion(block, "", roi.region());
    writeRegion(block, "Increment/", roi.increment());
    writeRegion(block, "Minimum/", roi.minimum());
    writeRegion(block, "Maximum/", roi.maximum());
}

// Brings `value` to the nearest allowed step at or below it, within [low, high].
int snap(int value, int low, int high, int step)
{
    value = std::clamp(value, low, std::max(low, high));
    if (step > 1)
        value = low + (value - low) / step * step;
    return value;
}

Region forceInside(const RegionOfInterest& roi, Region wanted)
{
    const Region low = roi.minimum();
    const Region high = roi.maximum();
    const Region step = roi.increment();
    wanted.w = snap(wanted.w, low.w, high.w, step.w);
    wanted.h = snap(wanted.h, low.h, high.h, step.h);
    // The maximum size is the sensor: the corner must leave room for the size.
    wanted.x = snap(wanted.x, low.x, std::min(high.x, high.w - wanted.w), step.x);
    wanted.y = snap(wanted.y, low.y, std::min(high.y, high.h - wanted.h), step.y);
    return wanted;
}

template <typename T>
void applyNumber(VideoCameraStream& camera, const Properties& settings, bool force, Properties& result)
{
    const Properties* request = settings.subProperties(T::property_name);
    if (request == nullptr)
        return;
    Properties* block = result.addSubProperties(T::property_name);
    const auto setting = settingsOf<T>(camera);
    double value = 0.0;
    if (!setting || !request->getParam("value", value)) {
        block->setParam("applied", false);
        if (setting)
            writeNumber(*block, *setting);
        return;
    }
    if (force)
        value = std::clamp(value, setting->minimum(), std::max(setting->minimum(), setting->maximum()));
    const bool applied = setting->setValue(value);
    writeNumber(*block, *setting);
    block->setParam("applied", applied);
}

void applyRegion(VideoCameraStream& camera, const Properties& settings, bool force, Properties& result)
{
    const Properties* request = settings.subProperties(RegionOfInterest::property_name);
    if (request == nullptr)
        return;
    Properties* block = result.addSubProperties(RegionOfInterest::property_name);
    const auto roi = settingsOf<RegionOfInterest>(camera);
    if (!roi) {
        block->setParam("applied", false);
        return;
    }
    Region wanted = roi->region();
    bool complete = request->getParam("x", wanted.x);
    complete = request->getParam("y", wanted.y) && complete;
    complete = request->getParam("w", wanted.w) && complete;
    complete = request->getParam("h", wanted.h) && complete;
    if (!complete && !force) {
        writeRegionSettings(*block, *roi);
        block->setParam("applied", false);
        return;
    }
    if (force)
        wanted = forceInside(*roi, wanted);
    const bool applied = roi->setRegion(wanted);
    writeRegionSettings(*block, *roi);
    block->setParam("applied", applied);
}

}  // namespace

Properties CameraSettingsTree::apply(VideoCameraStream& camera, const Properties* settings, bool force)
{
    Properties result;
    if (settings == nullptr)
        return result;
    applyNumber<Exposure>(camera, *settings, force, result);
    applyNumber<Framerate>(camera, *settings, force, result);
    applyNumber<Gain>(camera, *settings, force, result);
    applyRegion(camera, *settings, force, result);
    return result;
}

Properties CameraSettingsTree::current(VideoCameraStream& camera)
{
    Properties result;
    auto addNumber = [&](const char* name, const std::shared_ptr<VideoCameraSettingDouble>& setting) {
        if (!setting)
            return;
        Properties* block = result.addSubProperties(name);
        writeNumber(*block, *setting);
        block->setParam("applied", true);
    };
    addNumber(Exposure::property_name, settingsOf<Exposure>(camera));
    addNumber(Framerate::property_name, settingsOf<Framerate>(camera));
    addNumber(Gain::property_name, settingsOf<Gain>(camera));
    if (const auto roi = settingsOf<RegionOfInterest>(camera)) {
        Properties* block = result.addSubProperties(RegionOfInterest::property_name);
        writeRegionSettings(*block, *roi);
        block->setParam("applied", true);
    }
    return result;
}

}  // namespace Corvexis
