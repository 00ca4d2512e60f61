#include "Stream/Framework/SubstreamWrapper.h"

#include <stdexcept>

#include "Host/Core/SignalBlocker.h"
#include "Stream/Framework/StreamGroupBase.h"

namespace Corvexis {

using State = Stream::State;

namespace {

bool isOneOf(State s, std::initializer_list<State> states)
{
    for (State candidate : states) {
        if (s == candidate)
            return true;
    }
    return false;
}

}  // namespace

SubstreamWrapper::SubstreamWrapper(std::unique_ptr<Stream> stream, StreamGroupBase* group)
    : SubstreamBase(group), stream_(std::move(stream))
{
    if (!stream_)
        throw std::invalid_argument("SubstreamWrapper needs a stream");
    initSync(proxy().currentState());
    streamConnection_ = stream_->signalStateChanged.connect(
        [this](Stream::StateChange change) { syncProxyStreamState(change); });
    proxyConnection_ = proxy().signalStateChanged.connect(
        [this](Stream::StateChange change) { syncWithProxyStreamState(change); });
}

SubstreamWrapper::~SubstreamWrapper()
{
    proxyConnection_.disconnect();
    streamConnection_.disconnect();
    stream_.reset();
}

Stream& SubstreamWrapper::proxy() const
{
    return *streamGroup()->proxyStream();
}

void SubstreamWrapper::initSync(State proxyState)
{
    Stream& w = *stream_;
    const State current = w.currentState();
    switch (proxyState) {
        case State::Closed:
        case State::Closing:
            w.close();
            break;
        case State::Opening:
        case State::Open:
        case State::Stopping:
            if (isOneOf(current, {State::Closed, State::Closing})) {
                w.open();
            } else if (isOneOf(current, {State::Starting, State::Running, State::Pausing, State::Paused})) {
                // Deliberately resumed first: stop is refused from Paused (only Running may stop), so
                // bringing a paused wrapped stream to Open goes through Running. The brief resume may emit
                // a record or two; a paused stream that may not run again should be closed instead.
                if (isOneOf(current, {State::Pausing, State::Paused}))
                    w.resume();
                w.stop();
            }
            break;
        case State::Starting:
        case State::Running:
        case State::Resuming:
            if (w.supportsPausing() && isOneOf(current, {State::Pausing, State::Paused}))
                w.resume();
            else
                w.start();
            break;
        case State::Pausing:
        case State::Paused:
            if (w.supportsPausing()) {
                w.start();
                w.pause();
            } else {
                w.open();
                w.stop();
            }
            break;
    }
}

// The one rule for both directions: which request makes `target` follow a change of the source.
//   Closed or Opening   -> Open     open()
//   Open or Starting    -> Running  start(), then resume()
//   Running or Stopping -> Open     stop()
//   Open or Closing     -> Closed   close()
//   Running or Pausing  -> Paused   pause() when the target can pause, else stop()
//   Paused or Resuming  -> Running  resume() when the target can pause and is Pausing or Paused,
//                                   else start()
// Every other change (the transitional states) needs no action.
void SubstreamWrapper::applyChange(const Stream::StateChange& change, Stream& target)
{
    const State from = change.oldState;
    const State to = change.newState;
    if (to == State::Open && isOneOf(from, {State::Closed, State::Opening})) {
        target.open();
    } else if (to == State::Running && isOneOf(from, {State::Open, State::Starting})) {
        target.start();
        target.resume();
    } else if (to == State::Open && isOneOf(from, {State::Running, State::Stopping})) {
        target.stop();
    } else if (to == State::Closed && isOneOf(from, {State::Open, State::Closing})) {
        target.close();
    } else if (to == State::Paused && isOneOf(from, {State::Running, State::Pausing})) {
        if (target.supportsPausing())
            target.pause();
        else
            target.stop();
    } else if (to == State::Running && isOneOf(from, {State::Paused, State::Resuming})) {
        if (target.supportsPausing() && target.isStateOneOf({State::Pausing, State::Paused}))
            target.resume();
        else
            target.start();
    }
}

void SubstreamWrapper::syncProxyStreamState(const Stream::StateChange& change)
{
    SignalBlocker blocker(proxyConnection_);
    applyChange(change, proxy());
}

void SubstreamWrapper::syncWithProxyStreamState(const Stream::StateChange& change)
{
    SignalBlocker blocker(streamConnection_);
    applyChange(change, *stream_);
}

}  // namespace Corvexis
