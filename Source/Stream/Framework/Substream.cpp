#include "Stream/Framework/Substream.h"

namespace Corvexis {

template <typename T>
Substream<T>::Substream(StreamGroupBase* group, std::string name) : SubstreamBase(group), T(name)
{
    // Connected first, then set: a change racing with the construction is applied after (or again
    // after) the state read here, so the mirror ends in the proxy's newest state.
    proxyConnection_ = proxy().signalStateChanged.connect(
        [this](Stream::StateChange change) { this->changeState(change.newState); });
    this->changeState(proxy().currentState());
}

template <typename T>
Substream<T>::~Substream()
{
    proxyConnection_.disconnect();
    this->signalStreamData.disconnectAll();
    detached_.store(true);
    // A proxy caught in a transition leaves the mirror transitional, where close() is refused; detached,
    // the substream can simply be marked closed.
    if (!this->close())
        this->changeState(Stream::State::Closed);
}

template <typename T>
bool Substream<T>::supportsPausing() const
{
    return proxy().supportsPausing();
}

template <typename T>
bool Substream<T>::openImpl()
{
    return proxy().open();
}

template <typename T>
bool Substream<T>::closeImpl()
{
    return detached_.load() || proxy().close();
}

template <typename T>
bool Substream<T>::startImpl()
{
    return proxy().start();
}

template <typename T>
bool Substream<T>::stopImpl()
{
    return detached_.load() || proxy().stop();
}

template <typename T>
bool Substream<T>::pauseImpl()
{
    return proxy().pause();
}

template <typename T>
bool Substream<T>::resumeImpl()
{
    return proxy().resume();
}

template class Substream<ImageStream>;
template class Substream<TrackingStream>;

}  // namespace Corvexis
