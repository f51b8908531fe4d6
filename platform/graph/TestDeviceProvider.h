// The test devices as a set that changes while the studio runs: devices can be plugged in and
// pulled out by name, the enumerator lists what is plugged in at the moment it is asked, and a
// device pulled out while its source runs fails as a real one does (it delivers nothing more
// and posts a read error). Listeners hear of every change, as from the system's device monitor.
//
// Threads: every operation may be called from any thread. Listeners run on the thread that
// changed the set, after the change, outside the set's lock.
#pragma once

#include "platform/graph/DeviceChange.h"

#include <atomic>
#include <cstdint>
#include <gst/gst.h>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kelo {

// What a test video device shows and how it delivers it.
enum class TestPicture {
    Pattern,     // a moving test pattern, raw frames
    JpegPattern, // the same pattern as JPEG up to 720p30, raw only up to 10 fps, as USB cameras
    Face,        // a face photograph panning slowly, raw frames
    Silent,      // opens and runs like a camera but never delivers a frame
};

struct TestDevice {
    std::string name;
    // What the device offers (caps text, for example a device that refuses 320 x 240); empty:
    // anything.
    std::string offeredCaps;
    TestPicture picture = TestPicture::Pattern;
    // The photograph a Face device shows (a JPEG file); empty: KELOCAM_TEST_FACE, else the asset
    // "test-face.jpg".
    std::string photo;
};

struct TestDevices {
    std::vector<TestDevice> video;
    std::vector<TestDevice> audio;
};

class TestDeviceProvider {
public:
    // A plugged-in device and the serial number it got when it was plugged in (the same name
    // may be plugged in twice).
    struct Entry {
        std::uint64_t serial = 0;
        TestDevice device;
    };

    explicit TestDeviceProvider(const TestDevices& devices = {});
    ~TestDeviceProvider();
    TestDeviceProvider(const TestDeviceProvider&) = delete;
    TestDeviceProvider& operator=(const TestDeviceProvider&) = delete;

    // What is plugged in now, in list order.
    std::vector<Entry> Devices(DeviceKind kind) const;
    bool IsPluggedIn(std::uint64_t serial) const;

    // Plugs a device in at `position` of its list (0-based; past the end or negative: last).
    void Add(DeviceKind kind, TestDevice device, int position = -1);
    // Pulls out the first device of that name; false when none is plugged in.
    bool Remove(DeviceKind kind, std::string_view name);

    // `listener` hears of every later change until Unsubscribe, which waits for a call in
    // progress. Returns the subscription's id.
    int Subscribe(DeviceChangeCallback listener);
    void Unsubscribe(int id);

    // The source element just made for the device `serial` (borrowed: watched through a weak
    // reference). Pulling the device out stops its data and, when the element runs, posts the
    // read error a camera that is unplugged posts.
    void Track(std::uint64_t serial, GstElement* source);

private:
    struct Tracked {
        std::uint64_t serial = 0;
        GWeakRef element;
        std::shared_ptr<std::atomic<bool>> unplugged;
    };

    void Unplug(std::uint64_t serial, const std::string& name);
    void Notify(const DeviceChange& change);

    mutable std::mutex mutex_; // guards the lists, the serial counter and the tracked sources
    std::vector<Entry> video_;
    std::vector<Entry> audio_;
    std::uint64_t nextSerial_ = 1;
    std::vector<std::unique_ptr<Tracked>> tracked_;

    std::mutex listenersMutex_; // held while listeners run: Unsubscribe waits for them
    std::map<int, DeviceChangeCallback> listeners_;
    int nextListener_ = 1;
};

} // namespace kelo
