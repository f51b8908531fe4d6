// The system device enumerator: capture devices from GstDeviceMonitor (classes Video/Source and
// Audio/Source, display names as friendly names, monitor order), the test devices when they are
// switched on (videotestsrc and audiotestsrc under the names asked for, after the real ones),
// and the compressor catalogue for the two compressor categories.
#pragma once

#include "platform/graph/ClassRegistry.h"
#include "platform/graph/GraphInterfaces.h"
#include "platform/graph/TestDeviceProvider.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kelo {

class DeviceMonitor;

// What the test cameras offer: the plain pattern camera the four sizes of the settings dialog
// at 15 and 30 frames per second; the JPEG camera any size up to 1280 x 720 at up to 30; the
// ":vga" camera 640 x 480 at 30 only (a camera that cannot give what is asked of it).
inline constexpr const char* kTestCameraModes =
    "video/x-raw,width=320,height=240,framerate={15/1,30/1}; "
    "video/x-raw,width=640,height=480,framerate={15/1,30/1}; "
    "video/x-raw,width=1280,height=720,framerate={15/1,30/1}; "
    "video/x-raw,width=1920,height=1080,framerate={15/1,30/1}";
// JPEG up to 1280 x 720 at 30; raw frames of the same sizes only up to 10 frames per second
// (the USB 2 bandwidth of a real camera's YUYV modes).
inline constexpr const char* kTestJpegCameraModes =
    "image/jpeg,width=[16,1280],height=[16,720],framerate=[1/1,30/1]; "
    "video/x-raw,format=YUY2,width=[16,1280],height=[16,720],framerate=[1/1,10/1]";
inline constexpr const char* kTestVgaCameraModes =
    "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1";

// One "Test Camera" and one "Test Microphone".
TestDevices DefaultTestDevices();

// "VIDEO1,VIDEO2,...;AUDIO1,..." (names in this order; an empty list gives none of that kind; no
// ';' means no audio devices). A video name may end in ":jpeg" (a camera that only delivers
// JPEG), ":face" (the face photograph) or ":vga" (a camera of 640 x 480 at 30 only). False for an
// empty name inside a list.
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
    // The test devices as they come and go (tests that plug devices in and pull them out, and
    // the window's device monitor); null: a fixed set made from testDevices.
    std::shared_ptr<TestDeviceProvider> testProvider;
    // The monitor that follows the system's devices while the studio runs, if any. The lists
    // read the devices from it: a second monitor probing beside it would leave it deaf (the
    // device providers are shared by every monitor of the process).
    std::shared_ptr<DeviceMonitor> systemMonitor;
};

class SystemDeviceEnum : public ComObject, public ICreateDevEnum {
public:
    explicit SystemDeviceEnum(DeviceSources sources);

    [[nodiscard]] HRESULT CreateClassEnumerator(std::string_view category,
                                                MonikerList* monikers) override;

private:
    void AddSystemDevices(const char* deviceClass, bool video, MonikerList* monikers) const;
    void AddTestDevices(bool video, MonikerList* monikers) const;

    DeviceSources sources_;
};

} // namespace kelo
