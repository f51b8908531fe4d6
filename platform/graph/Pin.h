// Pins over pads. A pin is one pad of a filter's element with its direction and connection state.
// Elements whose pads are made on request (a tee's outputs, a muxer's inputs) also show one
// "free" pin per request template at the end of their pin list; the pad behind it is requested
// when the pin is connected, with the template that fits the upstream format.
#pragma once

#include "platform/graph/ClassRegistry.h"
#include "platform/graph/GraphInterfaces.h"
#include "platform/system/Handles.h"

#include <memory>
#include <string>
#include <vector>

namespace kelo {

enum class PinDirection { Input = 0, Output = 1 };

// A filter that gives some of its pins interfaces of their own (for example the stream
// configuration of a compressor's output pin) answers this.
class IPinExtensions {
public:
    virtual ~IPinExtensions() = default;
    // The object that answers QueryPinInterface for the pad, or null.
    virtual ComPtr PinInterfaces(PinDirection direction, GstPad* pad) = 0;
};

class Pin : public ComObject {
public:
    // A pin over an existing pad of the element.
    Pin(ElementPtr element, PadPtr pad, PinDirection direction, ComPtr extensions);
    // A free request pin: no pad yet.
    Pin(ElementPtr element, GstPadTemplate* requestTemplate, PinDirection direction);

    PinDirection QueryDirection() const { return direction_; }
    // S_OK with the peer pin, VFW_E_NOT_CONNECTED when not linked.
    [[nodiscard]] HRESULT ConnectedTo(PinPtr* peer) const;
    bool IsConnected() const;
    // The media type of the link (VFW_E_NOT_CONNECTED when unlinked or not negotiated yet).
    [[nodiscard]] HRESULT ConnectionMediaType(MediaType* type) const;
    std::string Name() const;

    GstElement* element() const { return element_.get(); }
    // Null until a free request pin has been connected.
    GstPad* pad() const { return pad_.get(); }
    bool isRequestPin() const { return requestTemplate_ != nullptr; }

    // The formats the pin can take now (the pad's query, or the request templates' caps).
    CapsPtr QueryCaps() const;
    // For a free request pin: requests the pad from the template that fits the caps (any, when
    // null). For a pin with a pad: S_OK.
    [[nodiscard]] HRESULT Materialise(const GstCaps* peerCaps);
    // Gives back a requested pad that ended up unlinked.
    void ReleaseIfUnlinked();

    const ComPtr& extensions() const { return extensions_; }

private:
    ElementPtr element_;
    PadPtr pad_;
    GstPadTemplate* requestTemplate_ = nullptr; // borrowed from the element's class (static)
    bool requested_ = false;
    PinDirection direction_;
    ComPtr extensions_;
};

// The interface of a pin, or of what its filter gives it (IPinExtensions).
template <typename Interface> std::shared_ptr<Interface> QueryPinInterface(const PinPtr& pin) {
    if (!pin)
        return nullptr;
    if (auto own = std::dynamic_pointer_cast<Interface>(std::static_pointer_cast<ComObject>(pin)))
        return own;
    return QueryInterface<Interface>(pin->extensions());
}

// The filter's pins in pad order (inputs and outputs as the element holds them), then one free
// request pin per request template. E_POINTER without a filter.
[[nodiscard]] HRESULT EnumPins(const FilterPtr& filter, std::vector<PinPtr>* pins);

// The first pin of the direction (any == false: the first not connected). E_FAIL when none.
[[nodiscard]] HRESULT FindPin(const FilterPtr& filter, PinDirection direction, bool unconnectedOnly, PinPtr* pin);

} // namespace kelo
