#include "platform/system/SharedMemoryView.h"

#include "platform/contracts/FeedLayout.h"
#include "support/TestSupport.h"

#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kelo {
namespace {

TEST(SharedMemoryView, OpenExistingFailsUntilTheObjectIsCreatedAndThenMapsItsRealSize) {
    test::ScopedFeedName feed;
    SharedMemoryView writer;
    EXPECT_EQ(writer.OpenExisting(feed.name()), E_FAIL);
    EXPECT_FALSE(writer.isOpen());

    // Another program made it smaller than a frame: the view's size is the object's.
    int fd = shm_open(feed.name().c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 1000), 0);
    close(fd);
    ASSERT_EQ(writer.OpenExisting(feed.name()), S_OK);
    EXPECT_EQ(writer.size(), 1000u);
    std::memset(writer.data(), 7, writer.size());

    // A creator grows it to a frame and keeps what was written.
    SharedMemoryView creator;
    ASSERT_EQ(creator.OpenOrCreate(feed.name(), kFeedBytes), S_OK);
    EXPECT_EQ(creator.size(), kFeedBytes);
    EXPECT_EQ(creator.data()[999], 7);
    EXPECT_EQ(creator.data()[1000], 0);
    EXPECT_EQ(FeedObjectName(), feed.name());
}

TEST(SharedMemoryView, ObjectsTooSmallOrOpenToOthersAreNotKept) {
    test::ScopedFeedName feed;
    int fd = shm_open(feed.name().c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    SharedMemoryView view;
    EXPECT_EQ(view.OpenExisting(feed.name(), kFeedBytes), S_FALSE);
    EXPECT_FALSE(view.isOpen());
    ASSERT_EQ(ftruncate(fd, kFeedBytes), 0);
    EXPECT_EQ(view.OpenExisting(feed.name(), kFeedBytes), S_OK);
    EXPECT_TRUE(view.StillNamed(feed.name()));

    for (mode_t mode : {0644, 0660, 0602}) {
        ASSERT_EQ(fchmod(fd, mode), 0);
        SharedMemoryView other;
        EXPECT_EQ(other.OpenExisting(feed.name()), E_ACCESSDENIED) << std::oct << mode;
        EXPECT_EQ(other.OpenOrCreate(feed.name(), kFeedBytes), E_ACCESSDENIED) << std::oct << mode;
        EXPECT_FALSE(other.isOpen());
    }
    close(fd);

    // Removed and made again: the name leads to another object.
    ASSERT_EQ(shm_unlink(feed.name().c_str()), 0);
    EXPECT_FALSE(view.StillNamed(feed.name()));
    SharedMemoryView again;
    ASSERT_EQ(again.OpenOrCreate(feed.name(), kFeedBytes), S_OK);
    EXPECT_FALSE(view.StillNamed(feed.name()));
    EXPECT_TRUE(again.StillNamed(feed.name()));
}

TEST(SharedMemoryView,
     AGuardedAccessSurvivesTheObjectShrinkingAndAnyOtherBusErrorStillEndsTheProgram) {
    test::ScopedFeedName feed;
    SharedMemoryView view;
    ASSERT_EQ(view.OpenOrCreate(feed.name(), kFeedBytes), S_OK);
    std::vector<std::uint8_t> copy(kFeedBytes);
    EXPECT_TRUE(view.Guarded([&] { std::memcpy(copy.data(), view.data(), kFeedBytes); }));

    // Another process made it smaller: the pages past its end fault, the guard takes the fault.
    const int fd = shm_open(feed.name().c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 0), 0);
    EXPECT_FALSE(view.Guarded([&] { std::memcpy(copy.data(), view.data(), kFeedBytes); }));
    // The same for a write, into an object cut to one page.
    view.Close();
    ASSERT_EQ(ftruncate(fd, kFeedBytes), 0);
    ASSERT_EQ(view.OpenExisting(feed.name(), kFeedBytes), S_OK);
    ASSERT_EQ(ftruncate(fd, 4096), 0);
    EXPECT_FALSE(view.Guarded([&] { std::memset(view.data(), 1, kFeedBytes); }));
    view.Close();

    // Outside a guard the fault is what it always was.
    EXPECT_DEATH(
        {
            SharedMemoryView mapped;
            if (mapped.OpenOrCreate(feed.name(), kFeedBytes) == S_OK && ftruncate(fd, 0) == 0)
                std::memset(mapped.data(), 1, kFeedBytes);
        },
        "");
    close(fd);
}

} // namespace
} // namespace kelo
