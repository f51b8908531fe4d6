// Making GStreamer elements for the platform components, with owned references.
#pragma once

#include "platform/system/Handles.h"

#include <string_view>

namespace kelo {

// A new element of the factory, sunk and owned; null when the plugin is missing.
ElementPtr MakeElement(const char* factory, const char* name = nullptr);

// A bin from a launch description whose unlinked pads become ghost pads ("sink", "src").
// Null when an element of it is missing.
ElementPtr MakeBin(const char* description);

bool HasElementFactory(const char* factory);

} // namespace kelo
