// A capture device in the graph: the device's source element followed by the format it was told
// to produce. Its stream configuration (IAMStreamConfig) takes a format only when the device
// offers it; otherwise the device keeps its own. Its rows are top-down, as every GStreamer
// source's; the Color Space Converter after it turns them into the graph's bottom-up RGB24.
#pragma once

#include "platform/graph/BaseFilter.h"
#include "platform/graph/GraphInterfaces.h"

#include <functional>
#include <memory>
#include <string>

namespace kelo {

class CaptureDeviceFilter : public BaseFilter, public IAMStreamConfig, public IRowOrderSource {
public:
    // source: the device's element (owned). offered: the formats it can produce (null: any).
    // ownFormat: what it produces when nobody sets a format (null: whatever it negotiates).
    // formatChosen: for a source that makes its pictures differently for each format (a test
    // camera that encodes JPEG only when JPEG is asked for); told the caps before they are set,
    // on the thread that sets the format, while the graph is stopped.
    using FormatChosen = std::function<void(const GstCaps* caps)>;
    static std::shared_ptr<CaptureDeviceFilter> Create(std::string friendlyName, ElementPtr source,
                                                       bool video, CapsPtr offered,
                                                       CapsPtr ownFormat,
                                                       FormatChosen formatChosen = {});

    [[nodiscard]] HRESULT GetFormat(MediaType* type) override;
    [[nodiscard]] HRESULT SetFormat(const MediaType& type) override;
    [[nodiscard]] HRESULT GetOfferedModes(VideoMode requested,
                                          std::vector<OfferedMode>* modes) override;
    bool ProducesTopDownRows() const override { return video_; }

    bool isVideo() const { return video_; }
    // The name the enumerator listed the device under.
    const std::string& friendlyName() const { return friendlyName_; }

private:
    CaptureDeviceFilter(std::string friendlyName, ElementPtr bin, GstElement* format, bool video,
                        CapsPtr offered, CapsPtr ownFormat, FormatChosen formatChosen);
    bool Offers(const GstCaps* caps) const;

    std::string friendlyName_;
    GstElement* format_ = nullptr; // borrowed: the capsfilter inside our bin
    bool video_ = true;
    CapsPtr offered_;
    CapsPtr ownFormat_;
    CapsPtr current_; // set by SetFormat
    FormatChosen formatChosen_;
};

} // namespace kelo
