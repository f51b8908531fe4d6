// The callback interface of the Sample Grabber: the grabber element calls it on the streaming
// thread for every frame that passes, with the frame's bytes (bottom-up BGR, as every RGB24 frame
// inside the graph).
#pragma once

#include "platform/system/HResult.h"

#include <gst/gst.h>

namespace kelo {

class ISampleGrabberCB {
public:
    virtual ~ISampleGrabberCB() = default;
    // Reference counting is the holder's business (the engine owns the callback object and
    // disposes of it only after the grabber can no longer call it); kept for the call shape.
    virtual unsigned long AddRef() { return 2; }
    virtual unsigned long Release() { return 1; }

    // Which-method 0: called with the whole buffer (the sample), not used by this program.
    [[nodiscard]] virtual HRESULT SampleCB(double sampleTime, GstBuffer* sample) = 0;
    // Which-method 1: called with the frame's bytes; sampleTime in seconds.
    [[nodiscard]] virtual HRESULT BufferCB(double sampleTime, unsigned char* buffer,
                                           long bufferLength) = 0;
    // Which-method 1 with the frame's size in pixels (0 x 0 while the grabber has not seen the
    // stream's format yet); the grabber calls this one. By default it is BufferCB.
    [[nodiscard]] virtual HRESULT FrameCB(double sampleTime, unsigned char* buffer,
                                          long bufferLength, int /*width*/, int /*height*/) {
        return BufferCB(sampleTime, buffer, bufferLength);
    }
};

} // namespace kelo
