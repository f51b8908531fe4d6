#include "platform/graph/TestDeviceProvider.h"

#include "platform/system/Handles.h"

#include <algorithm>
#include <utility>

GST_DEBUG_CATEGORY_EXTERN(kelo_graph_debug);
#define GST_CAT_DEFAULT kelo_graph_debug

namespace kelo {

namespace {

std::vector<TestDeviceProvider::Entry>& ListOf(DeviceKind kind,
                                               std::vector<TestDeviceProvider::Entry>& video,
                                               std::vector<TestDeviceProvider::Entry>& audio) {
    return kind == DeviceKind::Video ? video : audio;
}

// Streaming thread of the device's source: once it is pulled out, nothing more comes out of it.
// `holder` is the probe's own reference to the flag.
GstPadProbeReturn DropWhenUnplugged(GstPad*, GstPadProbeInfo*, gpointer holder) noexcept {
    const auto& flag = *static_cast<std::shared_ptr<std::atomic<bool>>*>(holder);
    return flag->load() ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
}

void ReleaseFlag(gpointer holder) noexcept {
    delete static_cast<std::shared_ptr<std::atomic<bool>>*>(holder);
}

} // namespace

TestDeviceProvider::TestDeviceProvider(const TestDevices& devices) {
    for (const TestDevice& device : devices.video)
        video_.push_back({nextSerial_++, device});
    for (const TestDevice& device : devices.audio)
        audio_.push_back({nextSerial_++, device});
}

TestDeviceProvider::~TestDeviceProvider() {
    for (auto& tracked : tracked_)
        g_weak_ref_clear(&tracked->element);
}

std::vector<TestDeviceProvider::Entry> TestDeviceProvider::Devices(DeviceKind kind) const {
    std::lock_guard lock(mutex_);
    return kind == DeviceKind::Video ? video_ : audio_;
}

bool TestDeviceProvider::IsPluggedIn(std::uint64_t serial) const {
    std::lock_guard lock(mutex_);
    auto same = [serial](const Entry& entry) { return entry.serial == serial; };
    return std::any_of(video_.begin(), video_.end(), same) ||
           std::any_of(audio_.begin(), audio_.end(), same);
}

void TestDeviceProvider::Add(DeviceKind kind, TestDevice device, int position) {
    DeviceChange change{DeviceChange::Type::Added, kind, device.name};
    {
        std::lock_guard lock(mutex_);
        std::vector<Entry>& list = ListOf(kind, video_, audio_);
        const auto at = position < 0 || position > static_cast<int>(list.size())
                            ? list.end()
                            : list.begin() + position;
        list.insert(at, Entry{nextSerial_++, std::move(device)});
    }
    Notify(change);
}

bool TestDeviceProvider::Remove(DeviceKind kind, std::string_view name) {
    std::uint64_t serial = 0;
    {
        std::lock_guard lock(mutex_);
        std::vector<Entry>& list = ListOf(kind, video_, audio_);
        auto it = std::find_if(list.begin(), list.end(),
                               [name](const Entry& entry) { return entry.device.name == name; });
        if (it == list.end())
            return false;
        serial = it->serial;
        list.erase(it);
    }
    // The list first, then the failing source, then the listeners: whoever reacts to the error
    // already finds the device gone, as with a camera whose node disappears with it.
    Unplug(serial, std::string(name));
    Notify({DeviceChange::Type::Removed, kind, std::string(name)});
    return true;
}

void TestDeviceProvider::Track(std::uint64_t serial, GstElement* source) {
    if (!source)
        return;
    auto tracked = std::make_unique<Tracked>();
    tracked->serial = serial;
    tracked->unplugged = std::make_shared<std::atomic<bool>>(false);
    g_weak_ref_init(&tracked->element, source);
    PadPtr output(gst_element_get_static_pad(source, "src"));
    if (output) {
        // The probe holds its own reference to the flag: it may outlive this provider.
        gst_pad_add_probe(output.get(),
                          static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                       GST_PAD_PROBE_TYPE_BUFFER_LIST),
                          &DropWhenUnplugged,
                          new std::shared_ptr<std::atomic<bool>>(tracked->unplugged), &ReleaseFlag);
    }
    std::lock_guard lock(mutex_);
    // Sources that are gone are forgotten on the way.
    std::erase_if(tracked_, [](const std::unique_ptr<Tracked>& entry) {
        ElementPtr alive(static_cast<GstElement*>(g_weak_ref_get(&entry->element)));
        if (alive)
            return false;
        g_weak_ref_clear(&entry->element);
        return true;
    });
    tracked_.push_back(std::move(tracked));
}

void TestDeviceProvider::Unplug(std::uint64_t serial, const std::string& name) {
    std::vector<ElementPtr> running;
    {
        std::lock_guard lock(mutex_);
        for (const auto& tracked : tracked_) {
            if (tracked->serial != serial)
                continue;
            tracked->unplugged->store(true);
            ElementPtr element(static_cast<GstElement*>(g_weak_ref_get(&tracked->element)));
            if (element)
                running.push_back(std::move(element));
        }
    }
    for (const ElementPtr& element : running) {
        GstState state = GST_STATE_NULL;
        GST_OBJECT_LOCK(element.get());
        state = GST_STATE(element.get());
        GST_OBJECT_UNLOCK(element.get());
        // A device nobody has opened (an idle microphone of the preview) notices nothing.
        if (state < GST_STATE_PAUSED)
            continue;
        GST_INFO_OBJECT(element.get(), "test device \"%s\" pulled out", name.c_str());
        GErrorPtr error(g_error_new(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ,
                                    "Device '%s' was disconnected.", name.c_str()));
        gst_element_post_message(element.get(),
                                 gst_message_new_error(GST_OBJECT(element.get()), error.get(),
                                                       "the test device was pulled out"));
    }
}

int TestDeviceProvider::Subscribe(DeviceChangeCallback listener) {
    std::lock_guard lock(listenersMutex_);
    const int id = nextListener_++;
    listeners_.emplace(id, std::move(listener));
    return id;
}

void TestDeviceProvider::Unsubscribe(int id) {
    std::lock_guard lock(listenersMutex_);
    listeners_.erase(id);
}

void TestDeviceProvider::Notify(const DeviceChange& change) {
    std::lock_guard lock(listenersMutex_);
    for (const auto& [id, listener] : listeners_) {
        if (listener)
            listener(change);
    }
}

} // namespace kelo
