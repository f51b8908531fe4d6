// The AVI Mux: a bin around avimux whose inputs behave like the platform's multiplexer: there is
// always exactly one unconnected input pin ("Input 01", "Input 02", ...). When an input is linked
// it becomes a video or an audio stream of the file, by what its peer produces, and the next free
// input appears. One output pin ("AVI Out") that feeds the File Writer.
//
// Raw video arrives bottom-up (the row order of every frame inside the graph); the input flips it
// back to the top-down order the muxer expects, so that the file plays upright. Raw audio of any
// sample format is converted to one the muxer takes; compressed streams go in unchanged.
#pragma once

#include "platform/graph/BaseFilter.h"

#include <memory>

namespace kelo {

class AviMuxFilter : public BaseFilter {
public:
    // Null when avimux or the converters are missing.
    static std::shared_ptr<AviMuxFilter> Create();
    ~AviMuxFilter() override;

    // Inputs that became streams so far (video and audio).
    int VideoStreamCount() const { return videoStreams_; }
    int AudioStreamCount() const { return audioStreams_; }

private:
    explicit AviMuxFilter(ElementPtr bin, ElementPtr mux);
    void AddFreeInput();
    void OnInputLinked(GstPad* input, GstPad* peer);
    bool ConnectInput(GstPad* input, bool video, bool rawVideo, bool rawAudio);

    ElementPtr mux_;
    int inputCount_ = 0;
    int videoStreams_ = 0;
    int audioStreams_ = 0;
    gulong lastHandler_ = 0;
};

} // namespace kelo
