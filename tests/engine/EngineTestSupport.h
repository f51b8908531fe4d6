// Test doubles for the engine's owner and preview surface: they record what the engine tells
// them, and the owner runs the tasks posted to "its thread" when the test asks (on the test's
// thread). Plus a registry with the platform components, the effect filters and test devices.
#pragma once

#include "engine/CaptureEngineOwner.h"
#include "platform/contracts/PreviewSurface.h"
#include "platform/graph/ClassRegistry.h"
#include "platform/graph/DeviceEnumerator.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kelo::test {

class RecordingDeviceList : public DeviceList {
public:
    void Clear() override;
    void Insert(int index, const std::string& name) override;
    void Select(int index) override;

    std::vector<std::string> names;
    int selected = -1; // -1: nothing selected
    int clears = 0;
};

class RecordingOwner : public CaptureEngineOwner {
public:
    DeviceList& VideoDeviceList() override { return video; }
    DeviceList& AudioDeviceList() override { return audio; }
    void PostToOwnerThread(std::function<void()> task) override;
    void OnCaptureError(const std::string& message) override { errors.push_back(message); }
    void OnSnapshotTaken(const SnapshotOutcome& outcome) override { snapshots.push_back(outcome); }

    // Runs the posted tasks, in order, on the calling thread.
    void RunPendingTasks();
    // Runs posted tasks until the predicate holds or the time is up.
    bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

    RecordingDeviceList video;
    RecordingDeviceList audio;
    std::vector<std::string> errors;
    std::vector<SnapshotOutcome> snapshots;

private:
    std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;
};

// What the surface was told, in order ("attach", "rect 0 0 324 244", "visible 1", ...), and the
// frames it received.
class RecordingSurface : public PreviewSurface {
public:
    RecordingSurface(int width, int height) : width_(width), height_(height) {}

    int ClientWidth() const override { return width_; }
    int ClientHeight() const override { return height_; }
    void AttachVideoWindow(VideoWindowInput* window) override;
    void SetVideoRect(int left, int top, int width, int height) override;
    void SetVideoVisible(bool visible) override;
    void SetVideoFullScreen(bool fullScreen) override;
    void RaiseVideo() override;
    void OnDrainedInput(const PreviewInput& input) override;
    void PresentFrame(const PreviewFrame& frame) override;

    std::vector<std::string> calls() const;
    VideoWindowInput* attached() const { return attached_; }
    int framesPresented() const;
    // The last frame, upright rows of width * 3 bytes.
    std::vector<std::uint8_t> lastFrame(int* width, int* height) const;
    std::vector<PreviewInput> drained;

private:
    void Log(std::string call);

    int width_;
    int height_;
    VideoWindowInput* attached_ = nullptr;
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    int frames_ = 0;
    int lastWidth_ = 0;
    int lastHeight_ = 0;
    std::vector<std::uint8_t> last_;
};

// Platform components (no system devices, the given test devices) and the three effect filters.
// The registry must stay where it is: components keep a pointer to it.
std::unique_ptr<ClassRegistry> MakeTestRegistry(const TestDevices& devices);
// The same on test devices that tests plug in and pull out while the registry is in use.
std::unique_ptr<ClassRegistry> MakeTestRegistry(std::shared_ptr<TestDeviceProvider> devices);

TestDevices Devices(std::vector<std::string> video, std::vector<std::string> audio);

} // namespace kelo::test
