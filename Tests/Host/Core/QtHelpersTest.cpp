#include "Host/Core/QtHelpers.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>

#include "Host/Core/Log.h"
#include "Support/TestUtil.h"

using namespace Corvexis;

namespace {

class QtHelpersTest : public ::testing::Test
{
protected:
    void SetUp() override { app_ = std::make_unique<QCoreApplication>(argc_, argv_); }
    void TearDown() override { app_.reset(); }

    // Turns the event loop until `condition` holds or the deadline passes.
    static bool processEventsUntil(const std::function<bool()>& condition)
    {
        return Corvexis::Test::waitUntil([&] {
            QCoreApplication::processEvents();
            return condition();
        });
    }

    std::unique_ptr<QCoreApplication> app_;

private:
    int argc_ = 1;
    char name_[16] = "QtHelpersTest";
    char* argv_[2] = {name_, nullptr};
};

}  // namespace

TEST_F(QtHelpersTest, TaskOnMainThreadRunsAtOnce)
{
    EXPECT_TRUE(QtHelpers::isMainThread());
    bool ran = false;
    EXPECT_TRUE(QtHelpers::runOnMainThread([&] { ran = true; }));
    EXPECT_TRUE(ran);
}

TEST_F(QtHelpersTest, TaskFromOtherThreadWaitsForTheEventLoop)
{
    const auto mainId = std::this_thread::get_id();
    std::atomic<bool> ran{false};
    std::atomic<bool> wasMain{false};
    std::atomic<bool> posted{false};
    std::thread poster([&] {
        EXPECT_FALSE(QtHelpers::isMainThread());
        posted = QtHelpers::runOnMainThread([&] {
            wasMain = std::this_thread::get_id() == mainId;
            ran = true;
        });
    });
    poster.join();
    EXPECT_TRUE(posted);
    // Nothing runs until the main thread turns its event loop.
    EXPECT_FALSE(ran);
    ASSERT_TRUE(processEventsUntil([&] { return ran.load(); }));
    EXPECT_TRUE(wasMain);
}

TEST_F(QtHelpersTest, QueuedTasksRunInPostingOrder)
{
    std::vector<int> order;  // touched only on the main thread
    std::thread poster([&] {
        for (int i = 0; i < 20; ++i)
            QtHelpers::runOnMainThread([&order, i] { order.push_back(i); });
    });
    poster.join();
    ASSERT_TRUE(processEventsUntil([&] { return order.size() == 20; }));
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(order[static_cast<size_t>(i)], i);
}

TEST_F(QtHelpersTest, ExceptionOfQueuedTaskIsLogged)
{
    Log::ScopedCapture capture;
    std::atomic<bool> after{false};
    std::thread poster([&] {
        QtHelpers::runOnMainThread([] { throw std::runtime_error("task failed"); });
        QtHelpers::runOnMainThread([&] { after = true; });
    });
    poster.join();
    ASSERT_TRUE(processEventsUntil([&] { return after.load(); }));
    EXPECT_TRUE(capture->contains(Log::Level::Error, "QtHelpers",
                                  "Exception in a task run on the main thread: task failed"));
}

TEST_F(QtHelpersTest, TaskQueuedWhenApplicationIsDestroyedIsDroppedAndReleased)
{
    auto token = std::make_shared<int>(0);
    bool ran = false;
    std::thread poster([&, token] { QtHelpers::runOnMainThread([&ran, token] { ran = true; }); });
    poster.join();
    EXPECT_GT(token.use_count(), 1);
    app_.reset();
    EXPECT_FALSE(ran);
    EXPECT_EQ(token.use_count(), 1);
}

TEST(QtHelpersNoApplicationTest, WithoutApplicationNothingRunsAndAnErrorIsLogged)
{
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    Log::ScopedCapture capture;
    bool ran = false;
    EXPECT_FALSE(QtHelpers::runOnMainThread([&] { ran = true; }));
    EXPECT_FALSE(ran);
    EXPECT_FALSE(QtHelpers::isMainThread());
    EXPECT_TRUE(capture->contains(Log::Level::Error, "QtHelpers",
                                  "runOnMainThread: no QCoreApplication exists; the task is dropped"));
}
