#include "platform/EosWatch.h"

#include <condition_variable>
#include <mutex>
#include <utility>

namespace kelo {

// Shared between the watch (UI thread) and the probe (streaming thread); the probe holds its own
// reference so that a late call after the watch is gone stays harmless.
struct EosWatch::State {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    bool seen = false;
};

EosWatch::EosWatch(PadPtr pad) : pad_(std::move(pad)), state_(std::make_shared<State>()) {
    if (!pad_)
        return;
    auto* data = new std::shared_ptr<State>(state_);
    probeId_ = gst_pad_add_probe(
        pad_.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM,
        [](GstPad*, GstPadProbeInfo* info, gpointer user) -> GstPadProbeReturn {
            GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
            if (event && GST_EVENT_TYPE(event) == GST_EVENT_EOS) {
                auto& state = *static_cast<std::shared_ptr<State>*>(user);
                std::lock_guard lock(state->mutex);
                state->seen = true;
                state->changed.notify_all();
            }
            return GST_PAD_PROBE_OK;
        },
        data, [](gpointer user) { delete static_cast<std::shared_ptr<State>*>(user); });
}

EosWatch::~EosWatch() {
    if (pad_ && probeId_)
        gst_pad_remove_probe(pad_.get(), probeId_);
}

bool EosWatch::Seen() const {
    std::lock_guard lock(state_->mutex);
    return state_->seen;
}

bool EosWatch::Wait(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout, [this] { return state_->seen; });
}

} // namespace kelo
