#include "platform/system/GstRuntime.h"

#include "platform/filters/RowFlipElement.h"
#include "platform/filters/YuvToBgrElement.h"

#include <cstdlib>
#include <cstring>
#include <gst/gst.h>
#include <mutex>

// The graph layer's diagnostics: what could not be made or linked, and the graph at each run.
// Off by default; on with KELOCAM_DEBUG=1 or GST_DEBUG=kelo-graph:5.
GST_DEBUG_CATEGORY(kelo_graph_debug);

namespace kelo {

void EnsureGstInitialized() {
    static std::once_flag once;
    std::call_once(once, [] {
        gst_init(nullptr, nullptr);
        GST_DEBUG_CATEGORY_INIT(kelo_graph_debug, "kelo-graph", 0,
                                "Kelo graph layer: filters, connections, runs");
        RegisterRowFlipElement();
        RegisterYuvToBgrElement();
        if (const char* on = std::getenv("KELOCAM_DEBUG"); on && std::strcmp(on, "1") == 0)
            gst_debug_set_threshold_for_name("kelo-*", GST_LEVEL_DEBUG);
    });
}

} // namespace kelo
