#include "platform/filters/CaptureDeviceFilter.h"

#include "platform/graph/ElementFactory.h"

namespace kelo {

std::shared_ptr<CaptureDeviceFilter> CaptureDeviceFilter::Create(std::string friendlyName,
                                                                 ElementPtr source, bool video,
                                                                 CapsPtr offered, CapsPtr ownFormat,
                                                                 FormatChosen formatChosen) {
    if (!source)
        return nullptr;
    ElementPtr bin = ElementPtr::RefSink(gst_bin_new(nullptr));
    ElementPtr format = MakeElement("capsfilter");
    if (!bin || !format)
        return nullptr;
    if (ownFormat)
        g_object_set(format.get(), "caps", ownFormat.get(), nullptr);
    gst_bin_add_many(GST_BIN(bin.get()), source.get(), format.get(), nullptr);
    if (!gst_element_link(source.get(), format.get()))
        return nullptr;
    PadPtr inner(gst_element_get_static_pad(format.get(), "src"));
    GstPad* ghost = gst_ghost_pad_new("src", inner.get());
    if (!ghost || !gst_element_add_pad(bin.get(), ghost))
        return nullptr;
    return std::shared_ptr<CaptureDeviceFilter>(
        new CaptureDeviceFilter(std::move(friendlyName), std::move(bin), format.get(), video,
                                std::move(offered), std::move(ownFormat), std::move(formatChosen)));
}

CaptureDeviceFilter::CaptureDeviceFilter(std::string friendlyName, ElementPtr bin,
                                         GstElement* format, bool video, CapsPtr offered,
                                         CapsPtr ownFormat, FormatChosen formatChosen)
    : BaseFilter(std::move(bin)), friendlyName_(std::move(friendlyName)), format_(format),
      video_(video), offered_(std::move(offered)), ownFormat_(std::move(ownFormat)),
      formatChosen_(std::move(formatChosen)) {
    if (formatChosen_ && ownFormat_)
        formatChosen_(ownFormat_.get());
}

bool CaptureDeviceFilter::Offers(const GstCaps* caps) const {
    return !offered_ || gst_caps_can_intersect(offered_.get(), caps);
}

HRESULT CaptureDeviceFilter::GetFormat(MediaType* type) {
    if (!type)
        return E_POINTER;
    const GstCaps* caps = current_     ? current_.get()
                          : ownFormat_ ? ownFormat_.get()
                                       : offered_.get();
    if (caps && MediaTypeFromCaps(caps, type))
        return S_OK;
    // A device that tells nothing about itself: its type without a format block.
    *type = MediaType{};
    type->majorType = video_ ? MEDIATYPE_Video : MEDIATYPE_Audio;
    return S_OK;
}

HRESULT CaptureDeviceFilter::GetOfferedModes(VideoMode requested, std::vector<OfferedMode>* modes) {
    if (!modes)
        return E_POINTER;
    modes->clear();
    if (!video_)
        return E_NOTIMPL;
    if (!offered_)
        return S_FALSE; // any format
    *modes = ListOfferedModes(offered_.get(), requested);
    return S_OK;
}

HRESULT CaptureDeviceFilter::SetFormat(const MediaType& type) {
    if (type.isVideo() != video_ || (!type.isVideo() && !type.isAudio()))
        return VFW_E_INVALIDMEDIATYPE;
    CapsPtr wanted = CapsFromMediaType(type);
    if (video_) {
        // The subtype asked for, else any raw format of that size and rate, else the device's
        // JPEG of that size and rate (decoded on connect).
        MediaType anyRaw = type;
        anyRaw.subtype.clear();
        MediaType jpeg = type;
        jpeg.subtype = MEDIASUBTYPE_MJPG;
        CapsPtr candidates[] = {std::move(wanted), CapsFromMediaType(anyRaw),
                                CapsFromMediaType(jpeg)};
        for (CapsPtr& candidate : candidates) {
            if (candidate && Offers(candidate.get())) {
                if (formatChosen_)
                    formatChosen_(candidate.get());
                g_object_set(format_, "caps", candidate.get(), nullptr);
                current_ = std::move(candidate);
                return S_OK;
            }
        }
        return VFW_E_INVALIDMEDIATYPE;
    }
    if (!wanted || !Offers(wanted.get()))
        return VFW_E_INVALIDMEDIATYPE;
    g_object_set(format_, "caps", wanted.get(), nullptr);
    current_ = std::move(wanted);
    return S_OK;
}

} // namespace kelo
