// What the engine needs from its owner (the main window, the headless runner, a test): the two
// device lists it fills, a way to run work on the owner's thread, and where runtime errors and
// photo outcomes go.
#pragma once

#include "engine/SnapshotGrabber.h"

#include <functional>
#include <string>

namespace kelo {

// A device list as the window shows it (a combo box). Owner thread.
class DeviceList {
public:
    virtual ~DeviceList() = default;
    // Removes every entry.
    virtual void Clear() = 0;
    // Inserts the name so that it becomes entry `index` (0-based).
    virtual void Insert(int index, const std::string& name) = 0;
    // Selects entry `index`; an index outside the list leaves no entry selected.
    virtual void Select(int index) = 0;
};

// A list that shows nothing: for owners without a window (benchmarks, tools).
class NullDeviceList : public DeviceList {
public:
    void Clear() override {}
    void Insert(int, const std::string&) override {}
    void Select(int) override {}
};

class CaptureEngineOwner {
public:
    virtual ~CaptureEngineOwner() = default;

    virtual DeviceList& VideoDeviceList() = 0;
    virtual DeviceList& AudioDeviceList() = 0;

    // Called from streaming threads: queue the task to run later on the owner's thread (the
    // window posts a queued call, the headless runner adds an idle source to its main context).
    // Tasks may run after the engine that posted them is gone; the engine guards for that.
    virtual void PostToOwnerThread(std::function<void()> task) = 0;

    // Owner thread. The graph stopped because of a runtime error (a device unplugged, a format
    // that could not be negotiated); `message` names the filter and the platform's text. Called
    // at most once per engine. The engine is stopped, not destroyed: the owner decides.
    virtual void OnCaptureError(const std::string& message) = 0;

    // Owner thread, before OnCaptureError: whether the owner stops the failed graph itself (off
    // its thread: stopping waits for the pipeline, up to the drain of a recording). False (the
    // default): the engine stops its graph on the owner's thread before telling it.
    virtual bool StopsFailedGraphItself() const { return false; }

    // Owner thread. A recording's file could not keep up with the camera (a slow disk) and
    // lost frames; the preview and the virtual camera went on. Said once per recording, with
    // the number dropped so far. Default: nothing.
    virtual void OnRecordingFramesDropped(const std::string& message) { (void)message; }

    // Owner thread. A requested photo was taken (or failed). Default: nothing.
    virtual void OnSnapshotTaken(const SnapshotOutcome& outcome) { (void)outcome; }
};

} // namespace kelo
