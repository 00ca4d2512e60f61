#include "Host/Core/QtHelpers.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <exception>
#include <string>

#include "Host/Core/Log.h"

namespace Corvexis::QtHelpers {

namespace {
void runCatching(const std::function<void()>& task)
{
    try {
        task();
    } catch (const std::exception& e) {
        Log::log(Log::Level::Error, "QtHelpers",
                 std::string("Exception in a task run on the main thread: ") + e.what());
    } catch (...) {
        Log::log(Log::Level::Error, "QtHelpers", "Unknown exception in a task run on the main thread");
    }
}
}  // namespace

bool runOnMainThread(std::function<void()> task)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        Log::log(Log::Level::Error, "QtHelpers",
                 "runOnMainThread: no QCoreApplication exists; the task is dropped");
        return false;
    }
    if (!task)
        return true;
    if (QThread::currentThread() == app->thread()) {
        task();
        return true;
    }
    // Posted as a meta-call event to the application object, so it runs on the thread that owns it,
    // in posting order with other events.
    QMetaObject::invokeMethod(
        app, [task = std::move(task)] { runCatching(task); }, Qt::QueuedConnection);
    return true;
}

bool isMainThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

}  // namespace Corvexis::QtHelpers
