// The ASF writer: asfmux + filesink in one bin, with one input pin per stream of its profile
// ("Audio Input 01", "Video Input 01", in the profile's stream order). Each input carries its own
// encoder, built from the stream configuration when the writer is configured: the profile's
// encoder and bit rate, the video stream's frame size and frame duration, the audio stream's
// sample rate and channels. Until configured otherwise the writer uses DefaultAsfWriterProfile().
//
// Video arrives bottom-up (as every frame inside the graph); the video input flips it back before
// encoding. Every encoder's output is restamped with running time (RunningTimeStamps.h), which
// keeps asfmux from writing a file that claims to last 1000 hours.
#pragma once

#include "platform/filters/AsfProfile.h"
#include "platform/filters/ElementChain.h"
#include "platform/graph/BaseFilter.h"
#include "platform/graph/GraphInterfaces.h"

#include <memory>
#include <string>
#include <vector>

namespace kelo {

class IConfigAsfWriter {
public:
    virtual ~IConfigAsfWriter() = default;
    // Replaces the writer's inputs by one per stream of `profile`. Only while stopped and with
    // no input connected (E_UNEXPECTED otherwise); E_INVALIDARG for a profile without streams,
    // E_FAIL when an encoder is missing.
    [[nodiscard]] virtual HRESULT ConfigureFilterUsingProfile(const WmProfile& profile) = 0;
    [[nodiscard]] virtual HRESULT GetCurrentProfile(WmProfile* profile) const = 0;
    [[nodiscard]] virtual HRESULT SetIndexMode(bool indexFile) = 0;
    [[nodiscard]] virtual HRESULT GetIndexMode(bool* indexFile) const = 0;
};

class AsfWriterFilter : public BaseFilter, public IFileSinkFilter, public IConfigAsfWriter {
public:
    // Null when asfmux, filesink or an encoder of the default profile is missing.
    static std::shared_ptr<AsfWriterFilter> Create();
    ~AsfWriterFilter() override;

    // The file is created (or overwritten) when the graph starts. E_UNEXPECTED while running.
    [[nodiscard]] HRESULT SetFileName(std::string_view path, const MediaType* type) override;
    [[nodiscard]] HRESULT GetCurFile(std::string* path) const override;

    [[nodiscard]] HRESULT ConfigureFilterUsingProfile(const WmProfile& profile) override;
    [[nodiscard]] HRESULT GetCurrentProfile(WmProfile* profile) const override;
    [[nodiscard]] HRESULT SetIndexMode(bool indexFile) override;
    [[nodiscard]] HRESULT GetIndexMode(bool* indexFile) const override;

private:
    struct Input {
        GstPad* ghost = nullptr; // owned by the bin
        ElementChain chain;      // in the bin; taken out again by RemoveInputs
    };

    AsfWriterFilter(ElementPtr bin, ElementPtr sink);
    [[nodiscard]] HRESULT AddInput(const WmStreamConfig& stream, int ordinal);
    [[nodiscard]] HRESULT RemoveInputs();

    ElementPtr mux_;
    ElementPtr sink_;
    WmProfile profile_;
    std::vector<Input> inputs_;
    std::string fileName_;
    bool indexFile_ = true;
};

// Frames per second as a fraction for a frame duration in 100-ns units: 666666 gives 15/1 (the
// duration is the integer quotient of 10,000,000 by the rate), 400000 gives 25/1, 0 gives 0/1.
void FrameRateFromDuration(std::int64_t avgTimePerFrame, int* numerator, int* denominator);

} // namespace kelo
