// Engines are made and destroyed for every preview start and recording: a hundred in a row must
// leave no leak (AddressSanitizer), no race (ThreadSanitizer) and flat resident memory.
#include "engine/CaptureEngine.h"
#include "EngineTestSupport.h"
#include "platform/contracts/FeedLayout.h"
#include "platform/system/SharedMemoryView.h"
#include "support/TestSupport.h"

#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KELO_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KELO_SANITIZED 1
#endif
#endif

namespace kelo {
namespace {

using namespace std::chrono_literals;

long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

TEST(CaptureEngineLifecycle, AHundredEnginesBuiltRunAndDestroyedInARow) {
    test::IsolatedDirectory dir;
    test::ScopedFeedName feed;
    SharedMemoryView feedView;
    ASSERT_EQ(feedView.OpenOrCreate(feed.name(), kFeedBytes), S_OK);
    test::RecordingOwner owner;
    auto registry = test::MakeTestRegistry(test::Devices({"Test Camera"}, {"Test Microphone"}));

    long residentAfterWarmUp = 0;
    for (int i = 0; i < 100; ++i) {
        test::RecordingSurface surface(324, 244);
        {
            CaptureEngine engine(320, 240, 15, &owner, *registry);
            ASSERT_EQ(engine.BuildGraph(&surface, nullptr, 1, 1), CaptureEngine::kVideoAndAudio)
                << i;
            ASSERT_EQ(engine.ConnectPreview(), S_OK) << i;
            ASSERT_EQ(engine.Run(), S_OK) << i;
            ASSERT_TRUE(owner.WaitUntil([&] { return surface.framesPresented() >= 3; }, 20s)) << i;
        }
        EXPECT_EQ(surface.attached(), nullptr);
        if (i == 19)
            residentAfterWarmUp = ResidentKiB();
    }
    owner.RunPendingTasks();
    EXPECT_TRUE(owner.errors.empty());
    // The feed is cleared by every teardown.
    for (std::size_t i = 0; i < kFeedBytes; ++i)
        ASSERT_EQ(feedView.data()[i], 0) << i;
#ifndef KELO_SANITIZED
    // Eighty more engines after the warm-up: a leak of one frame buffer per engine would show.
    const long growthKiB = ResidentKiB() - residentAfterWarmUp;
    EXPECT_LT(growthKiB, 8 * 1024) << "resident memory grew by " << growthKiB << " KiB";
#endif
}

} // namespace
} // namespace kelo
