#include "platform/GstRuntime.h"

#include <mutex>

#include <gst/gst.h>

namespace kelo {

void EnsureGstInitialized() {
    static std::once_flag once;
    std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

} // namespace kelo
