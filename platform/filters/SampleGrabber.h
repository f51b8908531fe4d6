// The Sample Grabber: an in-place pass-through that hands every frame to its ISampleGrabberCB on
// the streaming thread (FrameCB: time in seconds, the frame's bytes, their length, and the
// frame's size from the stream's format). The frames
// are the graph's RGB24: bottom-up BGR rows. SetMediaType restricts what it accepts.
#pragma once

#include "platform/graph/BaseFilter.h"
#include "platform/graph/GraphInterfaces.h"

#include <atomic>
#include <memory>

namespace kelo {

class SampleGrabber : public BaseFilter, public ISampleGrabber {
public:
    static std::shared_ptr<SampleGrabber> Create();

    [[nodiscard]] HRESULT SetMediaType(const MediaType& type) override;
    [[nodiscard]] HRESULT SetBufferSamples(bool buffer) override;
    [[nodiscard]] HRESULT SetOneShot(bool oneShot) override;
    [[nodiscard]] HRESULT SetCallback(ISampleGrabberCB* callback, int which) override;

private:
    SampleGrabber(ElementPtr bin, GstElement* filter, GstElement* tap);
    static void OnHandoff(GstElement* identity, GstBuffer* buffer, gpointer self);
    void Grab(GstBuffer* buffer);
    static GstPadProbeReturn OnCaps(GstPad* pad, GstPadProbeInfo* info, gpointer self) noexcept;

    GstElement* filter_ = nullptr; // borrowed: inside our bin
    std::atomic<ISampleGrabberCB*> callback_{nullptr};
    std::atomic<int> which_{1};
    std::atomic<bool> oneShot_{false};
    std::atomic<bool> shotTaken_{false};
    bool bufferSamples_ = false;
    // The frame size of the stream's format, from its caps event (streaming thread).
    std::atomic<int> frameWidth_{0};
    std::atomic<int> frameHeight_{0};
};

} // namespace kelo
