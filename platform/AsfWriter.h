// The WM ASF Writer: an ASF file writer (asfmux + filesink) whose streams and encoders come from
// a profile object. Its default profile has two streams, audio first: stream 0 audio (WMA v2,
// 44100 Hz stereo, 16 bits), stream 1 video (WMV 8 of 320 x 240 at 30 frames per second).
// Editing a profile and configuring the writer with it (ConfigureFilterUsingProfile) rebuilds
// the writer's inputs: one input pin per stream of the profile, "audio" and "video". The video
// input takes the graph's bottom-up RGB24 and turns the rows upright before encoding.
#pragma once

#include "platform/BaseFilter.h"
#include "platform/GraphInterfaces.h"

#include <memory>
#include <string>
#include <vector>

namespace kelo {

inline constexpr int kWMT_VER_8_0 = 0x00080000;

// One stream of a profile: its number and media type (IWMStreamConfig + IWMMediaProps).
class AsfStreamConfig {
public:
    AsfStreamConfig(int streamNumber, MediaType type)
        : streamNumber_(streamNumber), type_(std::move(type)) {}
    int streamNumber() const { return streamNumber_; }
    HRESULT GetMediaType(MediaType* type) const;
    HRESULT SetMediaType(const MediaType& type);
    const MediaType& type() const { return type_; }

private:
    int streamNumber_;
    MediaType type_;
};

// A profile: the streams of an ASF file in order (IWMProfile).
class AsfProfile {
public:
    int GetStreamCount() const { return static_cast<int>(streams_.size()); }
    // A copy of stream `index` (0-based); E_INVALIDARG outside the profile.
    HRESULT GetStream(int index, std::shared_ptr<AsfStreamConfig>* stream) const;
    // Replaces the stream with the same number; E_INVALIDARG when the profile has none.
    HRESULT ReconfigStream(const AsfStreamConfig& stream);
    // Appends a copy of the stream; E_INVALIDARG when its number is taken.
    HRESULT AddStream(const AsfStreamConfig& stream);

private:
    std::vector<AsfStreamConfig> streams_;
};

// The profile manager (WMCreateProfileManager / IWMProfileManager2).
class AsfProfileManager {
public:
    HRESULT SetSystemProfileVersion(int version);
    HRESULT CreateEmptyProfile(int version, std::shared_ptr<AsfProfile>* profile) const;
};

// The writer's default profile.
AsfProfile DefaultAsfProfile();

class IConfigAsfWriter {
public:
    virtual ~IConfigAsfWriter() = default;
    virtual HRESULT GetCurrentProfile(std::shared_ptr<AsfProfile>* profile) const = 0;
    virtual HRESULT ConfigureFilterUsingProfile(const AsfProfile& profile) = 0;
    virtual HRESULT SetIndexMode(bool index) = 0;
};

class WMAsfWriter : public BaseFilter, public IFileSinkFilter, public IConfigAsfWriter {
public:
    static std::shared_ptr<WMAsfWriter> Create();

    HRESULT SetFileName(std::string_view path, const MediaType* type) override;
    HRESULT GetCurFile(std::string* path) const override;
    HRESULT GetCurrentProfile(std::shared_ptr<AsfProfile>* profile) const override;
    // Graph stopped and the inputs not connected: E_UNEXPECTED otherwise.
    HRESULT ConfigureFilterUsingProfile(const AsfProfile& profile) override;
    HRESULT SetIndexMode(bool index) override;

private:
    WMAsfWriter(ElementPtr bin, GstElement* file);
    void RemoveInputs();

    GstElement* mux_ = nullptr;      // borrowed: inside our bin (a new one for every configuration)
    GstElement* file_ = nullptr;     // borrowed: inside our bin
    std::vector<ElementPtr> inputs_; // the encoder bins of the current profile
    AsfProfile profile_;
    std::string path_;
    bool indexed_ = true;
};

} // namespace kelo
