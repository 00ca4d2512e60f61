#include "Stream/Video/VideoCameraStream.h"

#include <cmath>
#include <cstdio>

#include "Stream/Framework/StreamFps.h"

namespace Corvexis {

namespace {

std::string rateText(double fps)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%.4g", fps);
    return text;
}

}  // namespace

VideoCameraStream::VideoCameraStream(const std::string& name)
    : ImageStream(name), rateMeter_(std::make_unique<StreamFps>())
{
    rateMeter_->setNumberOfFrames(60);
    rateMeter_->setUpdateInterval(2.0);
    rateMeter_->setRounding(1);
    rateMeter_->connect(this);
}

VideoCameraStream::~VideoCameraStream()
{
    rateMeter_->disconnect(this);
}

VideoCameraStream::VideoStreamFrameFormat VideoCameraStream::format() const
{
    std::lock_guard lock(formatMutex_);
    return format_;
}

double VideoCameraStream::fps() const
{
    return rateMeter_->fps();
}

bool VideoCameraStream::setFormat(int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= deviceInfo_.formats.size())
        return false;
    std::lock_guard lock(formatMutex_);
    format_ = deviceInfo_.formats[static_cast<std::size_t>(index)];
    return true;
}

std::any VideoCameraStream::getSettings(const std::string&)
{
    return {};
}

Properties VideoCameraStream::tryApplySettings(const Properties*)
{
    return Properties();
}

Properties VideoCameraStream::forceApplySettings(const Properties*)
{
    return Properties();
}

std::string VideoCameraStream::describe() const
{
    if (!isRunning())
        return "Video Stream";
    const VideoStreamFrameFormat current = format();
    const double measured = rateMeter_->fps();
    std::string text = "Live video with resolution " + std::to_string(current.width) + "x" +
                       std::to_string(current.height) + ", " + rateText(current.fps) + " ";
    // The meter reads 0 until it has seen enough frames; that is no measurement yet.
    if (measured > 0.0 && std::abs(measured - current.fps) >= 1.0)
        text += "nominal FPS, " + rateText(measured) + " actual FPS";
    else
        text += "FPS";
    return text;
}

}  // namespace Corvexis
