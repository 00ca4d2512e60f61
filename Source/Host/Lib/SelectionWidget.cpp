#include "Host/Lib/SelectionWidget.h"

#include <algorithm>

namespace Corvexis {

namespace {

struct Registry
{
    std::mutex mutex;
    // guarded by mutex
    std::vector<std::unique_ptr<SelectionWidget::PlaybackWrapper>> wrappers;
};

Registry& registry()
{
    static Registry* instance = new Registry();  // never destroyed: plug-ins may unregister during exit
    return *instance;
}

}  // namespace

SelectionWidget::PlaybackWrapper* SelectionWidget::registerPlaybackWrapper(
    std::unique_ptr<PlaybackWrapper> wrapper)
{
    if (!wrapper)
        return nullptr;
    PlaybackWrapper* raw = wrapper.get();
    std::lock_guard lock(registry().mutex);
    registry().wrappers.push_back(std::move(wrapper));
    return raw;
}

bool SelectionWidget::unregisterPlaybackWrapper(PlaybackWrapper* wrapper)
{
    std::unique_ptr<PlaybackWrapper> removed;
    {
        std::lock_guard lock(registry().mutex);
        auto& list = registry().wrappers;
        auto it =
            std::find_if(list.begin(), list.end(), [wrapper](const auto& w) { return w.get() == wrapper; });
        if (it == list.end())
            return false;
        removed = std::move(*it);
        list.erase(it);
    }
    return true;  // destroyed outside the lock
}

SelectionWidget::PlaybackWrapper* SelectionWidget::playbackWrapper(const Data* data)
{
    std::lock_guard lock(registry().mutex);
    const auto& list = registry().wrappers;
    for (auto it = list.rbegin(); it != list.rend(); ++it)
        if ((*it)->handles(data))
            return it->get();
    return nullptr;
}

int SelectionWidget::playbackWrapperCount()
{
    std::lock_guard lock(registry().mutex);
    return static_cast<int>(registry().wrappers.size());
}

}  // namespace Corvexis
