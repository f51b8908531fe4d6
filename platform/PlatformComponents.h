// Registers the platform's own components under their class identifiers: the filter graph, the
// capture graph builder, the system device enumerator (with the device sources given), the Sample
// Grabber, the Color Space Converter, the video renderer, the Smart Tee, the AVI Mux, the File
// Writer and the WM ASF Writer. The effect filters are registered by their own library.
#pragma once

#include "platform/graph/ClassRegistry.h"
#include "platform/graph/DeviceEnumerator.h"

namespace kelo {

// The registry must outlive every component it makes (the builder keeps a pointer to it).
void RegisterPlatformComponents(ClassRegistry& registry, const DeviceSources& devices = {});

} // namespace kelo
