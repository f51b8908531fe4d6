// Watches the capture devices while the studio runs: a camera or microphone plugged in or pulled
// out (GstDeviceMonitor's Video/Source and Audio/Source, and the test devices as they come and
// go) is reported to one callback. Devices whose names are left out of the lists (the studio's
// own virtual camera) are not reported.
//
// Threads: Start and Stop run on the owner's thread. The callback runs on whatever thread
// noticed the change (a device provider's thread, the thread that changed the test devices):
// it must hand the change over, not act on it. After Stop returns no call is in progress and
// none follows.
#pragma once

#include "platform/graph/DeviceChange.h"
#include "platform/graph/DeviceEnumerator.h"
#include "platform/system/Handles.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kelo {

class DeviceMonitor {
public:
    DeviceMonitor(DeviceSources sources, std::vector<std::string> leftOutNames);
    ~DeviceMonitor();
    DeviceMonitor(const DeviceMonitor&) = delete;
    DeviceMonitor& operator=(const DeviceMonitor&) = delete;

    // Starts watching. False when the system's monitor could not start (no device provider
    // could); the test devices are followed all the same.
    [[nodiscard]] bool Start(DeviceChangeCallback onChange);
    void Stop();

    // The system's devices of the class ("Video/Source", "Audio/Source") as the running monitor
    // knows them, in its order. False when it does not watch the system's devices. Owner thread.
    bool SystemDevices(const char* deviceClass, std::vector<DevicePtr>* devices) const;

private:
    // What the callers on other threads share with the monitor. A provider's thread may still be
    // in the bus handler when Stop returns: the handler holds its own reference, and finds the
    // callback gone.
    struct Delivery {
        std::vector<std::string> leftOut;
        std::mutex mutex; // held while the callback runs: Stop waits for it
        DeviceChangeCallback onChange;
        void Deliver(const DeviceChange& change);
    };

    static GstBusSyncReply OnBusMessage(GstBus* bus, GstMessage* message,
                                        gpointer delivery) noexcept;

    bool systemDevices_ = true;
    std::shared_ptr<TestDeviceProvider> testProvider_; // null: no test devices
    std::shared_ptr<Delivery> delivery_;
    DeviceMonitorPtr monitor_; // the system's devices, while started
    BusPtr bus_;
    int subscription_ = 0; // to the test devices, while started
};

} // namespace kelo
