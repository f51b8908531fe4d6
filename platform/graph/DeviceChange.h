// A capture device plugged in or pulled out, as the device monitor and the test device provider
// report it.
#pragma once

#include <functional>
#include <string>

namespace kelo {

enum class DeviceKind { Video, Audio };

struct DeviceChange {
    enum class Type { Added, Removed };
    Type type = Type::Added;
    DeviceKind kind = DeviceKind::Video;
    std::string name; // the friendly name the device lists show
};

// Runs on whatever thread noticed the change (a device provider's thread, a test's thread).
using DeviceChangeCallback = std::function<void(const DeviceChange&)>;

} // namespace kelo
