#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

#include "platform/FeedLayout.h"
#include "platform/SharedMemoryView.h"
#include "support/TestSupport.h"

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

} // namespace
} // namespace kelo
