// The shutter sound and its asynchronous player: the generated file plays to its end on a test
// sink; a missing file or one that is no sound is silent and never blocks the caller.
#include "platform/system/SoundPlayer.h"

#include "platform/system/AssetPaths.h"
#include "support/TestSupport.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace kelo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

template <class Pred> bool WaitFor(Pred pred, std::chrono::seconds deadline = 30s) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

fs::path ShutterSound() {
    return test::BinaryDir() / "snapshot.wav";
}

TEST(ShutterSound, IsAShortMonoPcmWaveFile) {
    std::ifstream in(ShutterSound(), std::ios::binary);
    ASSERT_TRUE(in) << ShutterSound() << " is built with the project";
    char header[44] = {};
    in.read(header, sizeof header);
    ASSERT_EQ(in.gcount(), 44);
    EXPECT_EQ(std::string(header, 4), "RIFF");
    EXPECT_EQ(std::string(header + 8, 8), "WAVEfmt ");
    EXPECT_EQ(header[20], 1); // PCM
    EXPECT_EQ(header[22], 1); // mono
    const auto size = fs::file_size(ShutterSound());
    EXPECT_GT(size, 44u + 2 * 4410);  // longer than 0.1 s at 44.1 kHz
    EXPECT_LT(size, 44u + 2 * 44100); // shorter than a second
}

TEST(SoundPlayer, PlaysTheShutterToItsEndAndANewSoundReplacesTheOneThatPlays) {
    SoundPlayer player("fakesink sync=true");
    ASSERT_TRUE(player.Play(ShutterSound().string()));
    ASSERT_TRUE(WaitFor([&] { return player.completedCount() == 1; }));
    // Three in a row: each stops the one before; at least the last plays to its end.
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(player.Play(ShutterSound().string()));
    ASSERT_TRUE(WaitFor([&] { return player.completedCount() >= 2; }));
    EXPECT_EQ(player.failedCount(), 0);
}

TEST(SoundPlayer, AMissingFileOrOneThatIsNoSoundIsSilent) {
    test::IsolatedDirectory dir;
    SoundPlayer player("fakesink sync=true");
    EXPECT_FALSE(player.Play((dir.path() / "snapshot.wav").string()));
    EXPECT_FALSE(player.Play(""));
    std::ofstream(dir.path() / "noise.wav") << "this is not a sound";
    EXPECT_TRUE(player.Play((dir.path() / "noise.wav").string()));
    ASSERT_TRUE(WaitFor([&] { return player.failedCount() == 1; }));
    // The player goes on working after a failure.
    EXPECT_TRUE(player.Play(ShutterSound().string()));
    EXPECT_TRUE(WaitFor([&] { return player.completedCount() == 1; }));
}

TEST(SoundPlayer, ADestroyedPlayerStopsItsSound) {
    // The destructor ends a sound mid-way without waiting for its end (and without a crash).
    SoundPlayer player("fakesink sync=true");
    EXPECT_TRUE(player.Play(ShutterSound().string()));
}

} // namespace
} // namespace kelo
