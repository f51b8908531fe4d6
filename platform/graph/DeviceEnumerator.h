// The system device enumerator: capture devices from GstDeviceMonitor (classes Video/Source and
// Audio/Source, display names as friendly names, monitor order), the test devices when they are
// switched on (videotestsrc and audiotestsrc under the names asked for, after the real ones),
// and the compressor catalogue for the two compressor categories.
#pragma once

#include "platform/graph/ClassRegistry.h"
#include "platform/graph/GraphInterfaces.h"

#include <string>
#include <string_view>
#include <vector>

namespace kelo {

// What a test video device shows and how it delivers it.
enum class TestPicture {
    Pattern,     // a moving test pattern, raw frames
    JpegPattern, // the same pattern as JPEG pictures only, like many USB cameras
    Face,        // a face photograph panning slowly, raw frames
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

// One "Test Camera" and one "Test Microphone".
TestDevices DefaultTestDevices();

// "VIDEO1,VIDEO2,...;AUDIO1,..." (names in this order; an empty list gives none of that kind; no
// ';' means no audio devices). A video name may end in ":jpeg" (a camera that only delivers
// JPEG) or ":face" (the face photograph). False for an empty name inside a list.
bool ParseTestDevices(std::string_view lists, TestDevices* devices);

// The command-line option "--test-devices" (the default devices) or "--test-devices=LISTS", as
// both the window and the headless studio take it.
enum class TestDevicesOption { kNotThisOption, kTaken, kBadList };
TestDevicesOption ParseTestDevicesOption(std::string_view arg, TestDevices* devices);
inline constexpr const char* kTestDevicesOptionError =
    "--test-devices= takes VIDEO1,VIDEO2,...;AUDIO1,... with no empty names";

struct DeviceSources {
    bool systemDevices = true; // devices the monitor finds
    bool testDevicesOn = false;
    TestDevices testDevices;
};

class SystemDeviceEnum : public ComObject, public ICreateDevEnum {
public:
    explicit SystemDeviceEnum(DeviceSources sources) : sources_(std::move(sources)) {}

    [[nodiscard]] HRESULT CreateClassEnumerator(std::string_view category, MonikerList* monikers) override;

private:
    void AddSystemDevices(const char* deviceClass, bool video, MonikerList* monikers) const;
    void AddTestDevices(bool video, MonikerList* monikers) const;

    DeviceSources sources_;
};

} // namespace kelo
