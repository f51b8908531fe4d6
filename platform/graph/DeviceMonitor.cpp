#include "platform/graph/DeviceMonitor.h"

#include "platform/system/GstRuntime.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

GST_DEBUG_CATEGORY_EXTERN(kelo_graph_debug);
#define GST_CAT_DEFAULT kelo_graph_debug

namespace kelo {

namespace {

constexpr const char* kVideoClass = "Video/Source";
constexpr const char* kAudioClass = "Audio/Source";

} // namespace

DeviceMonitor::DeviceMonitor(DeviceSources sources, std::vector<std::string> leftOutNames)
    : systemDevices_(sources.systemDevices),
      testProvider_(sources.testDevicesOn ? std::move(sources.testProvider) : nullptr),
      delivery_(std::make_shared<Delivery>()) {
    delivery_->leftOut = std::move(leftOutNames);
}

DeviceMonitor::~DeviceMonitor() {
    Stop();
}

bool DeviceMonitor::Start(DeviceChangeCallback onChange) {
    Stop();
    {
        std::lock_guard lock(delivery_->mutex);
        delivery_->onChange = std::move(onChange);
    }
    if (testProvider_) {
        // Unsubscribe waits for a call in progress: the delivery outlives every call.
        subscription_ =
            testProvider_->Subscribe([delivery = delivery_.get()](const DeviceChange& change) {
                delivery->Deliver(change);
            });
    }
    if (!systemDevices_)
        return true;
    EnsureGstInitialized();
    monitor_ = DeviceMonitorPtr::RefSink(gst_device_monitor_new());
    gst_device_monitor_add_filter(monitor_.get(), kVideoClass, nullptr);
    gst_device_monitor_add_filter(monitor_.get(), kAudioClass, nullptr);
    bus_ = BusPtr(gst_device_monitor_get_bus(monitor_.get()));
    // The providers post from their own threads; nobody pops this bus.
    gst_bus_set_sync_handler(
        bus_.get(), &DeviceMonitor::OnBusMessage, new std::shared_ptr<Delivery>(delivery_),
        [](gpointer held) { delete static_cast<std::shared_ptr<Delivery>*>(held); });
    if (!gst_device_monitor_start(monitor_.get())) {
        GST_WARNING("the device monitor could not start: plugged devices are not followed");
        gst_bus_set_sync_handler(bus_.get(), nullptr, nullptr, nullptr);
        bus_.reset();
        monitor_.reset();
        return false;
    }
    return true;
}

void DeviceMonitor::Stop() {
    if (subscription_ != 0) {
        testProvider_->Unsubscribe(subscription_);
        subscription_ = 0;
    }
    {
        // From here the bus handler, which may still be running on a provider's thread, finds
        // no callback to call.
        std::lock_guard lock(delivery_->mutex);
        delivery_->onChange = nullptr;
    }
    if (monitor_) {
        // Not stopped: GStreamer's PipeWire device provider frees its registry proxy in its stop
        // while its own loop thread may free it too (a double free seen under load), and
        // disposing of a started monitor stops its providers. The monitor keeps running, with
        // nothing to call, until the process ends; the studio starts one per run.
        static auto* parked = new std::vector<DeviceMonitorPtr>; // reachable, never destroyed
        static std::mutex parkedMutex;
        bus_.reset();
        std::lock_guard lock(parkedMutex);
        parked->push_back(std::move(monitor_));
    }
}

bool DeviceMonitor::SystemDevices(const char* deviceClass, std::vector<DevicePtr>* devices) const {
    if (!monitor_ || !devices)
        return false;
    devices->clear();
    GObjectListPtr all(gst_device_monitor_get_devices(monitor_.get()));
    for (GList* l = all.get(); l; l = l->next) {
        auto* device = static_cast<GstDevice*>(l->data);
        if (gst_device_has_classes(device, deviceClass))
            devices->push_back(DevicePtr::Ref(device));
    }
    return true;
}

GstBusSyncReply DeviceMonitor::OnBusMessage(GstBus*, GstMessage* message, gpointer held) noexcept {
    // A provider's thread. The handler drops the message and so owns it.
    MessagePtr owned(message);
    const GstMessageType type = GST_MESSAGE_TYPE(message);
    if (type != GST_MESSAGE_DEVICE_ADDED && type != GST_MESSAGE_DEVICE_REMOVED)
        return GST_BUS_DROP;
    GstDevice* raw = nullptr;
    const bool added = type == GST_MESSAGE_DEVICE_ADDED;
    if (added)
        gst_message_parse_device_added(message, &raw);
    else
        gst_message_parse_device_removed(message, &raw);
    DevicePtr device(raw);
    if (!device)
        return GST_BUS_DROP;
    DeviceChange change;
    change.type = added ? DeviceChange::Type::Added : DeviceChange::Type::Removed;
    if (gst_device_has_classes(device.get(), kVideoClass))
        change.kind = DeviceKind::Video;
    else if (gst_device_has_classes(device.get(), kAudioClass))
        change.kind = DeviceKind::Audio;
    else
        return GST_BUS_DROP;
    GCharPtr name(gst_device_get_display_name(device.get()));
    change.name = name ? name.get() : "";
    GST_INFO("device %s: %s", added ? "added" : "removed", change.name.c_str());
    (*static_cast<std::shared_ptr<Delivery>*>(held))->Deliver(change);
    return GST_BUS_DROP;
}

void DeviceMonitor::Delivery::Deliver(const DeviceChange& change) {
    if (std::find(leftOut.begin(), leftOut.end(), change.name) != leftOut.end())
        return;
    std::lock_guard lock(mutex);
    if (onChange)
        onChange(change);
}

} // namespace kelo
