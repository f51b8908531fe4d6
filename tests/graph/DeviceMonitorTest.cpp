// Test devices plugged in and pulled out at run time, as the device monitor reports them and as
// a running device fails when it goes.
#include "platform/graph/DeviceMonitor.h"

#include "platform/graph/ClassIds.h"
#include "platform/system/GstRuntime.h"
#include "platform/system/Handles.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

namespace kelo {
namespace {

using namespace std::chrono_literals;

DeviceSources TestSources(const std::shared_ptr<TestDeviceProvider>& devices) {
    DeviceSources sources;
    sources.systemDevices = false;
    sources.testDevicesOn = true;
    sources.testProvider = devices;
    return sources;
}

std::vector<std::string> Names(SystemDeviceEnum& enumerator, std::string_view category,
                               MonikerList* monikers) {
    std::vector<std::string> names;
    (void)enumerator.CreateClassEnumerator(category, monikers); // S_FALSE: an empty list
    for (const auto& moniker : *monikers) {
        std::shared_ptr<IPropertyBag> bag;
        std::string name;
        if (moniker->BindToStorage(&bag) == S_OK && bag->Read("FriendlyName", &name) == S_OK)
            names.push_back(name);
    }
    return names;
}

TEST(DeviceMonitor, ReportsTestDevicesAsTheyComeAndGoUntilStopped) {
    auto devices = std::make_shared<TestDeviceProvider>(TestDevices{{{"Cam"}}, {}});
    SystemDeviceEnum enumerator(TestSources(devices));
    std::mutex mutex;
    std::vector<std::string> seen;
    DeviceMonitor monitor(TestSources(devices), {"Kelo Virtual Camera"});
    ASSERT_TRUE(monitor.Start([&](const DeviceChange& change) {
        std::lock_guard lock(mutex);
        seen.push_back((change.type == DeviceChange::Type::Added ? "+" : "-") +
                       std::string(change.kind == DeviceKind::Video ? "v " : "a ") + change.name);
    }));

    MonikerList listedBefore;
    (void)Names(enumerator, CLSID_VideoInputDeviceCategory, &listedBefore);
    devices->Add(DeviceKind::Video, {"Kelo Virtual Camera"});
    devices->Add(DeviceKind::Video, {"Cam 2"}, 0);
    devices->Add(DeviceKind::Audio, {"Mic"});
    ASSERT_TRUE(devices->Remove(DeviceKind::Video, "Cam"));
    EXPECT_FALSE(devices->Remove(DeviceKind::Video, "Cam")) << "pulled out twice";

    MonikerList monikers;
    EXPECT_EQ(Names(enumerator, CLSID_VideoInputDeviceCategory, &monikers),
              (std::vector<std::string>{"Cam 2", "Kelo Virtual Camera"}));
    EXPECT_EQ(Names(enumerator, CLSID_AudioInputDeviceCategory, &monikers),
              std::vector<std::string>{"Mic"});
    // A device listed before it was pulled out cannot be opened any more.
    FilterPtr gone;
    ASSERT_EQ(listedBefore.size(), 1u);
    EXPECT_EQ(listedBefore[0]->BindToObject(&gone), E_FAIL);

    monitor.Stop();
    devices->Add(DeviceKind::Video, {"Cam 3"});
    std::lock_guard lock(mutex);
    EXPECT_EQ(seen, (std::vector<std::string>{"+v Cam 2", "+a Mic", "-v Cam"}));
}

TEST(DeviceMonitor, ARunningTestCameraPulledOutFailsAndDeliversNothingMore) {
    EnsureGstInitialized();
    auto devices = std::make_shared<TestDeviceProvider>(TestDevices{{{"Cam"}}, {}});
    SystemDeviceEnum enumerator(TestSources(devices));
    MonikerList monikers;
    ASSERT_EQ(Names(enumerator, CLSID_VideoInputDeviceCategory, &monikers).size(), 1u);
    FilterPtr camera;
    ASSERT_EQ(monikers[0]->BindToObject(&camera), S_OK);

    ElementPtr pipeline = ElementPtr::RefSink(gst_pipeline_new("pulled-out"));
    ElementPtr sink = ElementPtr::RefSink(gst_element_factory_make("fakesink", nullptr));
    ASSERT_TRUE(sink);
    g_object_set(sink.get(), "sync", FALSE, "signal-handoffs", TRUE, nullptr);
    std::atomic<int> buffers{0};
    g_signal_connect(sink.get(), "handoff",
                     G_CALLBACK(+[](GstElement*, GstBuffer*, GstPad*, gpointer count) {
                         ++*static_cast<std::atomic<int>*>(count);
                     }),
                     &buffers);
    gst_bin_add_many(GST_BIN(pipeline.get()), GST_ELEMENT(gst_object_ref(camera->element())),
                     GST_ELEMENT(gst_object_ref(sink.get())), nullptr);
    ASSERT_TRUE(gst_element_link(camera->element(), sink.get()));
    ASSERT_NE(gst_element_set_state(pipeline.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (buffers < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    ASSERT_GE(buffers.load(), 3);

    ASSERT_TRUE(devices->Remove(DeviceKind::Video, "Cam"));
    BusPtr bus(gst_element_get_bus(pipeline.get()));
    MessagePtr error(gst_bus_timed_pop_filtered(bus.get(), 20 * GST_SECOND, GST_MESSAGE_ERROR));
    ASSERT_TRUE(error) << "no error from the camera pulled out";
    GError* raw = nullptr;
    gst_message_parse_error(error.get(), &raw, nullptr);
    GErrorPtr details(raw);
    EXPECT_TRUE(g_error_matches(details.get(), GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ));
    // Whatever had passed the device before is through by now; nothing follows it.
    std::this_thread::sleep_for(200ms);
    const int afterError = buffers;
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(buffers.load(), afterError);
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
}

} // namespace
} // namespace kelo
