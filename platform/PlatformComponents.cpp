#include "platform/PlatformComponents.h"

#include "platform/filters/AsfWriterFilter.h"
#include "platform/filters/AviMuxFilter.h"
#include "platform/filters/ColorConverter.h"
#include "platform/filters/SampleGrabber.h"
#include "platform/filters/StreamFilters.h"
#include "platform/filters/VideoRenderer.h"
#include "platform/graph/CaptureGraphBuilder.h"
#include "platform/graph/ClassIds.h"
#include "platform/graph/FilterGraph.h"
#include "platform/system/GstRuntime.h"

namespace kelo {

void RegisterPlatformComponents(ClassRegistry& registry, const DeviceSources& devices) {
    EnsureGstInitialized();
    registry.Register(CLSID_FilterGraph, [] { return std::make_shared<FilterGraph>(); });
    const ClassRegistry* self = &registry;
    registry.Register(CLSID_CaptureGraphBuilder2,
                      [self] { return std::make_shared<CaptureGraphBuilder2>(self); });
    // Every enumerator of this registry lists the same test devices, as they come and go.
    DeviceSources shared = devices;
    if (shared.testDevicesOn && !shared.testProvider)
        shared.testProvider = std::make_shared<TestDeviceProvider>(shared.testDevices);
    registry.Register(CLSID_SystemDeviceEnum,
                      [shared] { return std::make_shared<SystemDeviceEnum>(shared); });
    registry.Register(CLSID_SampleGrabber, []() -> ComPtr { return SampleGrabber::Create(); });
    registry.Register(CLSID_Colour, []() -> ComPtr { return ColorConverter::Create(); });
    registry.Register(CLSID_VideoRenderer, []() -> ComPtr { return VideoRenderer::Create(); });
    registry.Register(CLSID_SmartTee, []() -> ComPtr { return SmartTee::Create(); });
    // The AVI Mux that turns the graph's bottom-up frames upright and keeps a free input.
    registry.Register(CLSID_AviDest, []() -> ComPtr { return AviMuxFilter::Create(); });
    registry.Register(CLSID_WMAsfWriter, []() -> ComPtr { return AsfWriterFilter::Create(); });
    registry.Register(CLSID_FileWriter, []() -> ComPtr { return FileWriter::Create(); });
}

} // namespace kelo
