#include "Stream/Recording/PlaybackStreamGroup.h"

#include "Stream/Framework/SubstreamWrapper.h"
#include "Stream/Recording/PlaybackStreamControl.h"

namespace Corvexis {

PlaybackStreamGroup::PlaybackStreamGroup(const std::string& name) : Stream(name) {}

PlaybackStreamGroup::~PlaybackStreamGroup()
{
    close();
    {
        std::lock_guard lock(mutex_);
        for (PlaybackStreamControl* control : controls_)
            control->setPlaybackGroup(nullptr);
        controls_.clear();
    }
    destroySubstreams();
}

void PlaybackStreamGroup::addPlaybackStream(std::unique_ptr<Stream> stream, PlaybackStreamControl& control)
{
    control.setPlaybackGroup(this);
    {
        std::lock_guard lock(mutex_);
        controls_.push_back(&control);
    }
    addSubstream(std::make_unique<SubstreamWrapper>(std::move(stream), this));
}

bool PlaybackStreamGroup::setFps(double fps)
{
    bool all = true;
    for (PlaybackStreamControl* control : [this] {
             std::lock_guard lock(mutex_);
             return controls_;
         }())
        all = control->applyFps(fps) && all;
    restartIfRunning();
    return all;
}

bool PlaybackStreamGroup::setSpeedFactor(double speedFactor)
{
    bool all = true;
    for (PlaybackStreamControl* control : [this] {
             std::lock_guard lock(mutex_);
             return controls_;
         }())
        all = control->applySpeedFactor(speedFactor) && all;
    restartIfRunning();
    return all;
}

std::vector<Stream*> PlaybackStreamGroup::members() const
{
    return substreams();
}

void PlaybackStreamGroup::restartIfRunning()
{
    if (currentState() == State::Running) {
        stop();
        start();
    }
}

}  // namespace Corvexis
