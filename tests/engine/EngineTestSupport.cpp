#include "EngineTestSupport.h"

#include "effects/filters/EffectFilters.h"
#include "platform/PlatformComponents.h"

#include <cstring>
#include <thread>

namespace kelo::test {

void RecordingDeviceList::Clear() {
    names.clear();
    selected = -1;
    ++clears;
}

void RecordingDeviceList::Insert(int index, const std::string& name) {
    if (index < 0 || index > static_cast<int>(names.size()))
        index = static_cast<int>(names.size());
    names.insert(names.begin() + index, name);
}

void RecordingDeviceList::Select(int index) {
    selected = index >= 0 && index < static_cast<int>(names.size()) ? index : -1;
}

void RecordingOwner::PostToOwnerThread(std::function<void()> task) {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
}

void RecordingOwner::RunPendingTasks() {
    while (true) {
        std::function<void()> task;
        {
            std::lock_guard lock(mutex_);
            if (tasks_.empty())
                return;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

bool RecordingOwner::WaitUntil(const std::function<bool()>& done,
                               std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (true) {
        RunPendingTasks();
        if (done())
            return true;
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void RecordingSurface::Log(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
}

void RecordingSurface::AttachVideoWindow(VideoWindowInput* window) {
    attached_ = window;
    Log(window ? "attach" : "detach");
}

void RecordingSurface::SetVideoRect(int left, int top, int width, int height) {
    Log("rect " + std::to_string(left) + " " + std::to_string(top) + " " + std::to_string(width) +
        " " + std::to_string(height));
}

void RecordingSurface::SetVideoVisible(bool visible) {
    Log(visible ? "visible 1" : "visible 0");
}
void RecordingSurface::SetVideoFullScreen(bool fullScreen) {
    Log(fullScreen ? "fullscreen 1" : "fullscreen 0");
}
void RecordingSurface::RaiseVideo() {
    Log("raise");
}
void RecordingSurface::OnDrainedInput(const PreviewInput& input) {
    drained.push_back(input);
}

void RecordingSurface::PresentFrame(const PreviewFrame& frame) {
    std::lock_guard lock(mutex_);
    ++frames_;
    lastWidth_ = frame.width;
    lastHeight_ = frame.height;
    const std::size_t row = static_cast<std::size_t>(frame.width) * 3;
    last_.resize(row * static_cast<std::size_t>(frame.height));
    for (int y = 0; y < frame.height; ++y)
        std::memcpy(last_.data() + row * y,
                    frame.data + static_cast<std::ptrdiff_t>(frame.stride) * y, row);
}

std::vector<std::string> RecordingSurface::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

int RecordingSurface::framesPresented() const {
    std::lock_guard lock(mutex_);
    return frames_;
}

std::vector<std::uint8_t> RecordingSurface::lastFrame(int* width, int* height) const {
    std::lock_guard lock(mutex_);
    *width = lastWidth_;
    *height = lastHeight_;
    return last_;
}

std::unique_ptr<ClassRegistry> MakeTestRegistry(const TestDevices& devices) {
    return MakeTestRegistry(std::make_shared<TestDeviceProvider>(devices));
}

std::unique_ptr<ClassRegistry> MakeTestRegistry(std::shared_ptr<TestDeviceProvider> devices) {
    auto registry = std::make_unique<ClassRegistry>();
    DeviceSources sources;
    sources.systemDevices = false;
    sources.testDevicesOn = true;
    sources.testProvider = std::move(devices);
    RegisterPlatformComponents(*registry, sources);
    RegisterEffectFilters(*registry);
    return registry;
}

TestDevices Devices(std::vector<std::string> video, std::vector<std::string> audio) {
    TestDevices devices;
    for (std::string& name : video)
        devices.video.push_back({std::move(name), {}});
    for (std::string& name : audio)
        devices.audio.push_back({std::move(name), {}});
    return devices;
}

} // namespace kelo::test
