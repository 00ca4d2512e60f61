#include "Stream/Video/V4l2CameraStream.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <set>

#include <libv4l2.h>
#include <linux/videodev2.h>

#include "Host/Core/Log.h"
#include "Host/Core/TypedImage.h"
#include "Host/Lib/SharedImage.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Stream/Framework/StreamUtils.h"
#include "Stream/Video/CameraPollingPeriod.h"
#include "Stream/Video/CameraSettingsTree.h"
#include "Stream/Video/VideoStreamSettings.h"

namespace Corvexis {

namespace {

constexpr const char* kCategory = "Stream.V4l2CameraStream";
constexpr unsigned kBufferCount = 4;

using VideoStreamSettings::Region;

// ioctl on a plain descriptor, repeated when a signal interrupts it.
int plainIoctl(int fd, unsigned long request, void* argument)
{
    int result = 0;
    do
        result = ::ioctl(fd, request, argument);
    while (result == -1 && errno == EINTR);
    return result;
}

// ioctl through libv4l2 (which converts pixel formats), repeated when a signal interrupts it.
int convertingIoctl(int fd, unsigned long request, void* argument)
{
    int result = 0;
    do
        result = v4l2_ioctl(fd, request, argument);
    while (result == -1 && errno == EINTR);
    return result;
}

std::string fourccText(std::uint32_t code)
{
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((code >> (8 * i)) & 0xFF);
        if (c != ' ' && c != '\0')
            text += c;
    }
    return text;
}

std::uint64_t bitsPerPixelOf(std::uint32_t code)
{
    switch (code) {
        case V4L2_PIX_FMT_GREY:
            return 8;
        case V4L2_PIX_FMT_NV12:
        case V4L2_PIX_FMT_NV21:
        case V4L2_PIX_FMT_YUV420:
        case V4L2_PIX_FMT_YVU420:
            return 12;
        case V4L2_PIX_FMT_YUYV:
        case V4L2_PIX_FMT_UYVY:
        case V4L2_PIX_FMT_YVYU:
        case V4L2_PIX_FMT_RGB565:
            return 16;
        case V4L2_PIX_FMT_RGB24:
        case V4L2_PIX_FMT_BGR24:
            return 24;
        case V4L2_PIX_FMT_ABGR32:
        case V4L2_PIX_FMT_XBGR32:
        case V4L2_PIX_FMT_ARGB32:
        case V4L2_PIX_FMT_XRGB32:
            return 32;
        default:
            return 0;  // compressed or unknown: no fixed size per pixel
    }
}

std::string textOf(const __u8* bytes, std::size_t size)
{
    const auto* begin = reinterpret_cast<const char*>(bytes);
    return std::string(begin, strnlen(begin, size));
}

// The capture capabilities of an open node.
bool canCaptureAndStream(int fd, v4l2_capability& capability)
{
    std::memset(&capability, 0, sizeof(capability));
    if (plainIoctl(fd, VIDIOC_QUERYCAP, &capability) != 0)
        return false;
    const std::uint32_t caps =
        (capability.capabilities & V4L2_CAP_DEVICE_CAPS) ? capability.device_caps : capability.capabilities;
    return (caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING);
}

// The rates the driver offers for one pixel format and size (a range contributes its highest); {0} when
// it reports none.
std::vector<double> ratesOf(int fd, std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height)
{
    std::vector<double> rates;
    v4l2_frmivalenum interval{};
    interval.pixel_format = pixelFormat;
    interval.width = width;
    interval.height = height;
    for (interval.index = 0; plainIoctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &interval) == 0; ++interval.index) {
        if (interval.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            if (interval.discrete.numerator > 0)
                rates.push_back(static_cast<double>(interval.discrete.denominator) /
                                interval.discrete.numerator);
        } else {
            if (interval.stepwise.min.numerator > 0)
                rates.push_back(static_cast<double>(interval.stepwise.min.denominator) /
                                interval.stepwise.min.numerator);
            break;
        }
    }
    if (rates.empty())
        rates.push_back(0.0);
    return rates;
}

std::vector<VideoCameraStream::VideoStreamFrameFormat> formatsOf(int fd)
{
    std::vector<VideoCameraStream::VideoStreamFrameFormat> formats;
    auto add = [&](std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height) {
        for (double rate : ratesOf(fd, pixelFormat, width, height)) {
            VideoCameraStream::VideoStreamFrameFormat format;
            format.formatIndex = static_cast<std::int32_t>(formats.size());
            format.width = width;
            format.height = height;
            format.fps = rate;
            format.bitsPerPixel = bitsPerPixelOf(pixelFormat);
            format.codec = fourccText(pixelFormat);
            formats.push_back(format);
        }
    };
    // Drivers that cannot list sizes still report the size they are set to.
    v4l2_format current{};
    current.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    const bool haveCurrent = plainIoctl(fd, VIDIOC_G_FMT, &current) == 0;
    v4l2_fmtdesc description{};
    description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (description.index = 0; plainIoctl(fd, VIDIOC_ENUM_FMT, &description) == 0; ++description.index) {
        v4l2_frmsizeenum size{};
        size.pixel_format = description.pixelformat;
        for (size.index = 0; plainIoctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) == 0; ++size.index) {
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                add(description.pixelformat, size.discrete.width, size.discrete.height);
            } else {
                add(description.pixelformat, size.stepwise.max_width, size.stepwise.max_height);
                break;
            }
        }
        if (size.index == 0 && haveCurrent && current.fmt.pix.pixelformat == description.pixelformat &&
            current.fmt.pix.width > 0 && current.fmt.pix.height > 0)
            add(description.pixelformat, current.fmt.pix.width, current.fmt.pix.height);
    }
    return formats;
}

std::vector<std::string> videoNodes()
{
    std::vector<std::pair<int, std::string>> nodes;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev", error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("video", 0) != 0 || name.size() == 5)
            continue;
        const std::string digits = name.substr(5);
        if (digits.size() > 6 ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        nodes.emplace_back(std::stoi(digits), entry.path().string());
    }
    std::sort(nodes.begin(), nodes.end());
    std::vector<std::string> paths;
    for (auto& node : nodes)
        paths.push_back(std::move(node.second));
    return paths;
}

// The device behind every enumerated camera, with the node it was found on.
struct FoundDevice
{
    VideoCameraStream::VideoCameraDeviceInfo info;
    std::string node;
};

std::vector<FoundDevice> findDevices()
{
    std::vector<FoundDevice> found;
    std::set<std::string> usedPaths;
    for (const auto& node : videoNodes()) {
        const int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        v4l2_capability capability{};
        if (canCaptureAndStream(fd, capability)) {
            FoundDevice device;
            device.node = node;
            device.info.displayString = textOf(capability.card, sizeof(capability.card));
            std::string path = textOf(capability.bus_info, sizeof(capability.bus_info));
            if (path.empty())
                path = node;
            else if (usedPaths.count(path) > 0)
                path += ":" + node;
            usedPaths.insert(path);
            device.info.devicePath = path;
            device.info.formats = formatsOf(fd);
            found.push_back(std::move(device));
        }
        ::close(fd);
    }
    return found;
}

// A short-lived handle on the node for one control operation, so that settings work whether or not the
// stream holds the device open.
class NodeHandle
{
public:
    explicit NodeHandle(const std::string& node)
        : fd_(v4l2_open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC))
    {
    }
    ~NodeHandle()
    {
        if (fd_ >= 0)
            v4l2_close(fd_);
    }
    NodeHandle(const NodeHandle&) = delete;
    NodeHandle& operator=(const NodeHandle&) = delete;

    bool valid() const { return fd_ >= 0; }
    int ioctl(unsigned long request, void* argument) const { return convertingIoctl(fd_, request, argument); }

private:
    int fd_;
};

bool queryControl(const std::string& node, std::uint32_t id, v4l2_queryctrl& query)
{
    NodeHandle handle(node);
    std::memset(&query, 0, sizeof(query));
    query.id = id;
    return handle.valid() && handle.ioctl(VIDIOC_QUERYCTRL, &query) == 0 &&
           !(query.flags & V4L2_CTRL_FLAG_DISABLED);
}

// One integer control of the device (exposure, gain) as a numeric setting.
template <typename Interface>
class ControlSetting final : public Interface
{
public:
    ControlSetting(std::string node, std::uint32_t id, const v4l2_queryctrl& query)
        : node_(std::move(node)), id_(id), minimum_(query.minimum), maximum_(query.maximum)
    {
    }

    bool setValue(double value) override
    {
        if (!(value >= minimum_ && value <= maximum_))
            return false;
        NodeHandle handle(node_);
        if (!handle.valid())
            return false;
        if (id_ == V4L2_CID_EXPOSURE_ABSOLUTE) {
            // A fixed exposure takes effect only with automatic exposure off.
            v4l2_control automatic{V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL};
            handle.ioctl(VIDIOC_S_CTRL, &automatic);
        }
        v4l2_control control{id_, static_cast<std::int32_t>(value)};
        return handle.ioctl(VIDIOC_S_CTRL, &control) == 0;
    }

    double value() const override
    {
        NodeHandle handle(node_);
        v4l2_control control{id_, 0};
        if (!handle.valid() || handle.ioctl(VIDIOC_G_CTRL, &control) != 0)
            return 0.0;
        return control.value;
    }

    double minimum() const override { return minimum_; }
    double maximum() const override { return maximum_; }

private:
    std::string node_;
    std::uint32_t id_;
    double minimum_;
    double maximum_;
};

// The stream's frame rate, through the capture parameters.
class RateSetting final : public VideoStreamSettings::Framerate
{
public:
    RateSetting(std::string node, double maximum) : node_(std::move(node)), maximum_(std::max(1.0, maximum))
    {
    }

    bool setValue(double value) override
    {
        if (!(value >= 1.0 && value <= maximum_))
            return false;
        NodeHandle handle(node_);
        v4l2_streamparm parameters{};
        parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        // Whole thousandths of a second per frame are exact enough for every camera rate.
        parameters.parm.capture.timeperframe.numerator = 1000;
        parameters.parm.capture.timeperframe.denominator = static_cast<std::uint32_t>(value * 1000.0 + 0.5);
        return handle.valid() && handle.ioctl(VIDIOC_S_PARM, &parameters) == 0;
    }

    double value() const override
    {
        NodeHandle handle(node_);
        v4l2_streamparm parameters{};
        parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (!handle.valid() || handle.ioctl(VIDIOC_G_PARM, &parameters) != 0 ||
            parameters.parm.capture.timeperframe.numerator == 0)
            return 0.0;
        return static_cast<double>(parameters.parm.capture.timeperframe.denominator) /
               parameters.parm.capture.timeperframe.numerator;
    }

    double minimum() const override { return 1.0; }
    double maximum() const override { return maximum_; }

private:
    std::string node_;
    double maximum_;
};

bool readSelection(const std::string& node, std::uint32_t target, Region& region)
{
    NodeHandle handle(node);
    v4l2_selection selection{};
    selection.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    selection.target = target;
    if (!handle.valid() || handle.ioctl(VIDIOC_G_SELECTION, &selection) != 0)
        return false;
    region = Region{selection.r.left, selection.r.top, static_cast<int>(selection.r.width),
                    static_cast<int>(selection.r.height)};
    return true;
}

// The crop selection as the region of interest.
class CropSetting final : public VideoStreamSettings::RegionOfInterest
{
public:
    CropSetting(std::string node, const Region& bounds) : node_(std::move(node)), bounds_(bounds) {}

    bool setRegion(const Region& region) override
    {
        if (region.x < bounds_.x || region.y < bounds_.y || region.w < 1 || region.h < 1 ||
            static_cast<long long>(region.x) + region.w > static_cast<long long>(bounds_.x) + bounds_.w ||
            static_cast<long long>(region.y) + region.h > static_cast<long long>(bounds_.y) + bounds_.h)
            return false;
        NodeHandle handle(node_);
        v4l2_selection selection{};
        selection.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        selection.target = V4L2_SEL_TGT_CROP;
        selection.r = v4l2_rect{region.x, region.y, static_cast<std::uint32_t>(region.w),
                                static_cast<std::uint32_t>(region.h)};
        return handle.valid() && handle.ioctl(VIDIOC_S_SELECTION, &selection) == 0;
    }

    Region region() const override
    {
        Region current;
        return readSelection(node_, V4L2_SEL_TGT_CROP, current) ? current : Region{};
    }
    Region increment() const override { return Region{1, 1, 1, 1}; }
    Region minimum() const override { return Region{bounds_.x, bounds_.y, 1, 1}; }
    Region maximum() const override { return bounds_; }

private:
    std::string node_;
    Region bounds_;
};

std::chrono::steady_clock::duration asSteady(std::chrono::microseconds period)
{
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(period);
}

}  // namespace

V4l2CameraStream::V4l2CameraStream(const std::string& devicePath) : VideoCameraStream(kDefaultName)
{
    for (auto& device : findDevices()) {
        if (device.info.devicePath == devicePath || device.node == devicePath) {
            deviceInfo_ = std::move(device.info);
            node_ = device.node;
            break;
        }
    }
    if (!deviceInfo_.formats.empty())
        setFormat(0);
}

V4l2CameraStream::~V4l2CameraStream()
{
    close();
}

std::vector<VideoCameraStream::VideoCameraDeviceInfo> V4l2CameraStream::enumerateDevices()
{
    std::vector<VideoCameraDeviceInfo> devices;
    for (auto& device : findDevices())
        devices.push_back(std::move(device.info));
    return devices;
}

bool V4l2CameraStream::setFormat(int index)
{
    if (!VideoCameraStream::setFormat(index))
        return false;
    std::lock_guard lock(sessionMutex_);
    if (fd_ >= 0) {
        // Close and reopen the device so that the new format holds from the next frame on.
        const bool capturing = capture_.running();
        capture_.stop();
        closeDeviceLocked();
        if (!openDeviceLocked())
            return false;
        if (capturing)
            capture_.start([this] { captureLoop(); });
    }
    return true;
}

std::any V4l2CameraStream::getSettings(const std::string& name)
{
    using namespace VideoStreamSettings;
    if (node_.empty())
        return {};
    v4l2_queryctrl query{};
    if (name == Exposure::property_name && queryControl(node_, V4L2_CID_EXPOSURE_ABSOLUTE, query))
        return std::shared_ptr<Exposure>(
            std::make_shared<ControlSetting<Exposure>>(node_, V4L2_CID_EXPOSURE_ABSOLUTE, query));
    if (name == Gain::property_name && queryControl(node_, V4L2_CID_GAIN, query))
        return std::shared_ptr<Gain>(std::make_shared<ControlSetting<Gain>>(node_, V4L2_CID_GAIN, query));
    if (name == Framerate::property_name) {
        NodeHandle handle(node_);
        v4l2_streamparm parameters{};
        parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (handle.valid() && handle.ioctl(VIDIOC_G_PARM, &parameters) == 0 &&
            (parameters.parm.capture.capability & V4L2_CAP_TIMEPERFRAME))
            return std::shared_ptr<Framerate>(std::make_shared<RateSetting>(node_, format().fps));
    }
    if (name == RegionOfInterest::property_name) {
        Region bounds;
        if (readSelection(node_, V4L2_SEL_TGT_CROP_BOUNDS, bounds))
            return std::shared_ptr<RegionOfInterest>(std::make_shared<CropSetting>(node_, bounds));
    }
    return {};
}

Properties V4l2CameraStream::tryApplySettings(const Properties* settings)
{
    return CameraSettingsTree::apply(*this, settings, false);
}

Properties V4l2CameraStream::forceApplySettings(const Properties* settings)
{
    return CameraSettingsTree::apply(*this, settings, true);
}

bool V4l2CameraStream::openImpl()
{
    if (node_.empty() || deviceInfo_.formats.empty())
        return false;
    std::lock_guard lock(sessionMutex_);
    if (fd_ >= 0) {
        capture_.stop();
        closeDeviceLocked();
    }
    return openDeviceLocked();
}

bool V4l2CameraStream::closeImpl()
{
    std::lock_guard lock(sessionMutex_);
    capture_.stop();
    closeDeviceLocked();
    return true;
}

bool V4l2CameraStream::startImpl()
{
    std::lock_guard lock(sessionMutex_);
    if (fd_ < 0 || capture_.running())
        return false;
    capture_.start([this] { captureLoop(); });
    return true;
}

bool V4l2CameraStream::stopImpl()
{
    std::lock_guard lock(sessionMutex_);
    if (fd_ < 0)
        return false;
    capture_.stop();
    return true;
}

bool V4l2CameraStream::openDeviceLocked()
{
    const VideoStreamFrameFormat wanted = format();
    fd_ = v4l2_open(node_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        Log::log(Log::Level::Error, kCategory, "Cannot open " + node_ + ": " + std::strerror(errno));
        return false;
    }
    auto fail = [this](const std::string& what) {
        Log::log(Log::Level::Error, kCategory, what + " on " + node_ + " failed: " + std::strerror(errno));
        closeDeviceLocked();
        return false;
    };
    v4l2_format pixelFormat{};
    pixelFormat.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    pixelFormat.fmt.pix.width = static_cast<std::uint32_t>(wanted.width);
    pixelFormat.fmt.pix.height = static_cast<std::uint32_t>(wanted.height);
    pixelFormat.fmt.pix.pixelformat = V4L2_PIX_FMT_RGB24;
    pixelFormat.fmt.pix.field = V4L2_FIELD_NONE;
    if (convertingIoctl(fd_, VIDIOC_S_FMT, &pixelFormat) != 0)
        return fail("Setting the pixel format");
    if (pixelFormat.fmt.pix.pixelformat != V4L2_PIX_FMT_RGB24) {
        errno = EINVAL;
        return fail("Converting to 8-bit RGB");
    }
    frameWidth_ = static_cast<int>(pixelFormat.fmt.pix.width);
    frameHeight_ = static_cast<int>(pixelFormat.fmt.pix.height);
    bytesPerLine_ = static_cast<int>(
        std::max<std::uint32_t>(pixelFormat.fmt.pix.bytesperline, pixelFormat.fmt.pix.width * 3));
    if (wanted.fps > 0.0) {
        v4l2_streamparm parameters{};
        parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        parameters.parm.capture.timeperframe.numerator = 1000;
        parameters.parm.capture.timeperframe.denominator =
            static_cast<std::uint32_t>(wanted.fps * 1000.0 + 0.5);
        convertingIoctl(fd_, VIDIOC_S_PARM, &parameters);  // best effort: not every driver sets rates
    }
    v4l2_requestbuffers request{};
    request.count = kBufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (convertingIoctl(fd_, VIDIOC_REQBUFS, &request) != 0 || request.count == 0)
        return fail("Requesting buffers");
    for (std::uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (convertingIoctl(fd_, VIDIOC_QUERYBUF, &buffer) != 0)
            return fail("Querying a buffer");
        void* start =
            v4l2_mmap(nullptr, buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, buffer.m.offset);
        if (start == MAP_FAILED)
            return fail("Mapping a buffer");
        buffers_.push_back(Buffer{start, buffer.length});
        if (convertingIoctl(fd_, VIDIOC_QBUF, &buffer) != 0)
            return fail("Queueing a buffer");
    }
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (convertingIoctl(fd_, VIDIOC_STREAMON, &type) != 0)
        return fail("Starting the stream");
    return true;
}

void V4l2CameraStream::closeDeviceLocked()
{
    if (fd_ < 0)
        return;
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    convertingIoctl(fd_, VIDIOC_STREAMOFF, &type);
    for (const auto& buffer : buffers_)
        v4l2_munmap(buffer.start, buffer.length);
    buffers_.clear();
    v4l2_close(fd_);
    fd_ = -1;
}

void V4l2CameraStream::captureLoop()
{
    try {
        // fd_, buffers_ and the frame size stay as they are while this thread runs (see the header).
        const int fd = fd_;
        const int width = frameWidth_;
        const int height = frameHeight_;
        const int stride = bytesPerLine_;
        const auto period = asSteady(cameraPollingPeriod(format().fps));
        auto deadline = std::chrono::steady_clock::now();
        while (capture_.sleepUntil(deadline)) {
            pollfd ready{fd, POLLIN, 0};
            if (::poll(&ready, 1, 0) > 0 && (ready.revents & POLLIN)) {
                v4l2_buffer buffer{};
                buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
                buffer.memory = V4L2_MEMORY_MMAP;
                if (convertingIoctl(fd, VIDIOC_DQBUF, &buffer) != 0) {
                    if (errno != EAGAIN) {
                        Log::log(Log::Level::Error, kCategory,
                                 "Failed to read frames from video stream, leaving capture thread now.");
                        return;
                    }
                } else {
                    std::unique_ptr<TypedImage<std::uint8_t>> image;
                    // The last row need not be padded to the full stride.
                    const std::size_t needed =
                        static_cast<std::size_t>(stride) * static_cast<std::size_t>(height - 1) +
                        static_cast<std::size_t>(width) * 3;
                    if (height > 0 && buffer.index < buffers_.size() && buffer.bytesused >= needed)
                        image = TypedImage<std::uint8_t>::create(width, height, 1, 3, false);
                    if (image) {
                        const auto* source = static_cast<const std::uint8_t*>(buffers_[buffer.index].start);
                        for (int row = 0; row < height; ++row)
                            std::memcpy(image->pointer() + static_cast<std::size_t>(row) * width * 3,
                                        source + static_cast<std::size_t>(row) * stride,
                                        static_cast<std::size_t>(width) * 3);
                    }
                    convertingIoctl(fd, VIDIOC_QBUF, &buffer);
                    if (image) {
                        auto shared =
                            std::make_unique<SharedImage>(std::unique_ptr<MemImage>(std::move(image)));
                        auto record = std::make_shared<ImageStreamData>(this, std::move(shared));
                        record->setTimestampArrival(std::chrono::system_clock::now());
                        record->setTimestampDevice(record->timestampArrival());
                        signalStreamData.emitSignal(std::move(record));
                    }
                }
            }
            deadline += period;
            if (std::chrono::steady_clock::now() - deadline > period)
                deadline += period;
        }
    } catch (const std::exception& e) {
        Log::log(Log::Level::Error, kCategory, "Aborting video stream");
        Log::log(Log::Level::Error, kCategory, e.what());
    }
}

}  // namespace Corvexis
