#include "platform/graph/Pin.h"

#include <utility>

namespace kelo {

Pin::Pin(ElementPtr element, PadPtr pad, PinDirection direction, ComPtr extensions)
    : element_(std::move(element)), pad_(std::move(pad)), direction_(direction),
      extensions_(std::move(extensions)) {}

Pin::Pin(ElementPtr element, GstPadTemplate* requestTemplate, PinDirection direction)
    : element_(std::move(element)), requestTemplate_(requestTemplate), direction_(direction) {}

bool Pin::IsConnected() const {
    return pad_ && gst_pad_is_linked(pad_.get());
}

HRESULT Pin::ConnectedTo(PinPtr* peer) const {
    if (peer)
        peer->reset();
    if (!pad_)
        return VFW_E_NOT_CONNECTED;
    PadPtr peerPad(gst_pad_get_peer(pad_.get()));
    if (!peerPad)
        return VFW_E_NOT_CONNECTED;
    if (peer) {
        ElementPtr peerElement(gst_pad_get_parent_element(peerPad.get()));
        PinDirection dir =
            direction_ == PinDirection::Input ? PinDirection::Output : PinDirection::Input;
        *peer = std::make_shared<Pin>(std::move(peerElement), std::move(peerPad), dir, nullptr);
    }
    return S_OK;
}

HRESULT Pin::ConnectionMediaType(MediaType* type) const {
    if (!type)
        return E_POINTER;
    if (!IsConnected())
        return VFW_E_NOT_CONNECTED;
    CapsPtr caps(gst_pad_get_current_caps(pad_.get()));
    if (!caps || !MediaTypeFromCaps(caps.get(), type))
        return VFW_E_NOT_CONNECTED;
    return S_OK;
}

std::string Pin::Name() const {
    if (pad_) {
        GCharPtr name(gst_pad_get_name(pad_.get()));
        return name ? name.get() : "";
    }
    return requestTemplate_ ? GST_PAD_TEMPLATE_NAME_TEMPLATE(requestTemplate_) : "";
}

CapsPtr Pin::QueryCaps() const {
    if (pad_)
        return CapsPtr(gst_pad_query_caps(pad_.get(), nullptr));
    if (requestTemplate_)
        return CapsPtr(gst_pad_template_get_caps(requestTemplate_));
    return CapsPtr(gst_caps_new_empty());
}

HRESULT Pin::Materialise(const GstCaps* peerCaps) {
    if (pad_)
        return S_OK;
    if (!requestTemplate_ || !element_)
        return E_FAIL;
    // Several request templates of one direction (a muxer's audio and video inputs): take the
    // first whose caps fit the peer.
    GstPadTemplate* chosen = nullptr;
    const GstPadDirection dir = direction_ == PinDirection::Input ? GST_PAD_SINK : GST_PAD_SRC;
    for (GList* l = gst_element_class_get_pad_template_list(GST_ELEMENT_GET_CLASS(element_.get()));
         l; l = l->next) {
        auto* templ = static_cast<GstPadTemplate*>(l->data);
        if (GST_PAD_TEMPLATE_PRESENCE(templ) != GST_PAD_REQUEST ||
            GST_PAD_TEMPLATE_DIRECTION(templ) != dir)
            continue;
        CapsPtr caps(gst_pad_template_get_caps(templ));
        if (!peerCaps || gst_caps_can_intersect(caps.get(), peerCaps)) {
            chosen = templ;
            break;
        }
    }
    if (!chosen)
        return VFW_E_CANNOT_CONNECT;
    GstPad* pad = gst_element_request_pad(element_.get(), chosen, nullptr, nullptr);
    if (!pad)
        return VFW_E_CANNOT_CONNECT;
    pad_ = PadPtr(pad); // request_pad returns a reference of ours
    requested_ = true;
    return S_OK;
}

void Pin::ReleaseIfUnlinked() {
    if (requested_ && pad_ && !gst_pad_is_linked(pad_.get())) {
        gst_element_release_request_pad(element_.get(), pad_.get());
        pad_.reset();
        requested_ = false;
    }
}

HRESULT EnumPins(const FilterPtr& filter, std::vector<PinPtr>* pins) {
    if (!filter || !pins || !filter->element())
        return E_POINTER;
    pins->clear();
    GstElement* element = filter->element();
    auto* extender = dynamic_cast<IPinExtensions*>(filter.get());

    std::vector<PadPtr> pads;
    GST_OBJECT_LOCK(element);
    for (GList* l = GST_ELEMENT_PADS(element); l; l = l->next)
        pads.push_back(PadPtr::Ref(static_cast<GstPad*>(l->data)));
    GST_OBJECT_UNLOCK(element);

    for (PadPtr& pad : pads) {
        const PinDirection dir = GST_PAD_DIRECTION(pad.get()) == GST_PAD_SRC ? PinDirection::Output
                                                                             : PinDirection::Input;
        ComPtr ext = extender ? extender->PinInterfaces(dir, pad.get()) : nullptr;
        pins->push_back(
            std::make_shared<Pin>(ElementPtr::Ref(element), std::move(pad), dir, std::move(ext)));
    }
    // One free pin per direction that has request templates; the template is chosen at connect.
    bool freeInput = false;
    bool freeOutput = false;
    for (GList* l = gst_element_class_get_pad_template_list(GST_ELEMENT_GET_CLASS(element)); l;
         l = l->next) {
        auto* templ = static_cast<GstPadTemplate*>(l->data);
        if (GST_PAD_TEMPLATE_PRESENCE(templ) != GST_PAD_REQUEST)
            continue;
        const PinDirection dir = GST_PAD_TEMPLATE_DIRECTION(templ) == GST_PAD_SRC
                                     ? PinDirection::Output
                                     : PinDirection::Input;
        bool& done = dir == PinDirection::Output ? freeOutput : freeInput;
        if (done)
            continue;
        done = true;
        pins->push_back(std::make_shared<Pin>(ElementPtr::Ref(element), templ, dir));
    }
    return S_OK;
}

HRESULT FindPin(const FilterPtr& filter, PinDirection direction, bool unconnectedOnly,
                PinPtr* pin) {
    if (!pin)
        return E_POINTER;
    pin->reset();
    std::vector<PinPtr> pins;
    if (!filter || FAILED(EnumPins(filter, &pins)))
        return E_FAIL;
    for (const PinPtr& p : pins) {
        if (p->QueryDirection() != direction)
            continue;
        if (unconnectedOnly && p->IsConnected())
            continue;
        *pin = p;
        return S_OK;
    }
    return E_FAIL;
}

} // namespace kelo
