// The devices and the registry the benchmarks build their engines from: the test devices
// alone (never the machine's own camera or microphone), the platform's components and the
// effect filters, registered as the studio registers them.
#pragma once

#include "effects/filters/EffectFilters.h"
#include "platform/graph/DeviceEnumerator.h"
#include "platform/PlatformComponents.h"

#include <memory>
#include <utility>

namespace kelo::bench {

// A fixed set of test devices (the default camera and microphone unless told otherwise).
inline DeviceSources TestDeviceSources(TestDevices devices = DefaultTestDevices()) {
    DeviceSources sources;
    sources.systemDevices = false;
    sources.testDevicesOn = true;
    sources.testDevices = std::move(devices);
    return sources;
}

// Test devices that come and go while the bench runs (plugged in and pulled out by it).
inline DeviceSources TestDeviceSources(std::shared_ptr<TestDeviceProvider> provider) {
    DeviceSources sources;
    sources.systemDevices = false;
    sources.testDevicesOn = true;
    sources.testProvider = std::move(provider);
    return sources;
}

// Fills `registry` with the platform's components over `sources` and the effect filters.
inline void RegisterStudio(ClassRegistry& registry, const DeviceSources& sources) {
    RegisterPlatformComponents(registry, sources);
    RegisterEffectFilters(registry);
}

// The same in a registry of its own (one the window keeps a reference to).
inline std::unique_ptr<ClassRegistry> MakeStudioRegistry(const DeviceSources& sources) {
    auto registry = std::make_unique<ClassRegistry>();
    RegisterStudio(*registry, sources);
    return registry;
}

} // namespace kelo::bench
