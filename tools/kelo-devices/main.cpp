// kelo-devices: the capture devices the studio would list, one name a line, as its device lists
// show them (the virtual camera's own device left out). For scripts: ./run.sh asks it whether
// the machine has a camera at all. Not installed.
//   kelo-devices [--video | --audio]     (default: both, each list under a heading)
#include "engine/CaptureEngine.h"
#include "platform/graph/ClassIds.h"
#include "platform/graph/ClassRegistry.h"
#include "platform/graph/MediaType.h"
#include "platform/PlatformComponents.h"
#include "platform/system/GstRuntime.h"

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::vector<std::string> DeviceNames(kelo::ClassRegistry& registry, std::string_view category,
                                     bool skipVirtualCamera) {
    std::vector<std::string> names;
    std::shared_ptr<kelo::ICreateDevEnum> enumerator;
    if (FAILED(registry.CreateInstance(kelo::CLSID_SystemDeviceEnum, &enumerator)))
        return names;
    kelo::MonikerList monikers;
    if (enumerator->CreateClassEnumerator(category, &monikers) != S_OK)
        return names; // none of this kind
    for (const std::shared_ptr<kelo::IMoniker>& moniker : monikers) {
        std::shared_ptr<kelo::IPropertyBag> bag;
        std::string name;
        if (FAILED(moniker->BindToStorage(&bag)) || !bag ||
            FAILED(bag->Read("FriendlyName", &name)))
            continue;
        if (!(skipVirtualCamera && name == kelo::kVirtualCameraName))
            names.push_back(name);
    }
    return names;
}

} // namespace

int main(int argc, char** argv) {
    const std::string_view only = argc > 1 ? argv[1] : "";
    if (argc > 2 || (!only.empty() && only != "--video" && only != "--audio")) {
        std::fprintf(stderr, "usage: kelo-devices [--video | --audio]\n");
        return 2;
    }
    kelo::EnsureGstInitialized();
    kelo::ClassRegistry registry;
    kelo::RegisterPlatformComponents(registry);
    const bool both = only.empty();
    if (both || only == "--video") {
        if (both)
            std::printf("video:\n");
        for (const std::string& name :
             DeviceNames(registry, kelo::CLSID_VideoInputDeviceCategory, true))
            std::printf("%s%s\n", both ? "  " : "", name.c_str());
    }
    if (both || only == "--audio") {
        if (both)
            std::printf("audio:\n");
        for (const std::string& name :
             DeviceNames(registry, kelo::CLSID_AudioInputDeviceCategory, false))
            std::printf("%s%s\n", both ? "  " : "", name.c_str());
    }
    return 0;
}
