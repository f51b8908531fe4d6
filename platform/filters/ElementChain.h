// A row of GStreamer elements made from factory names, added to a bin and linked in order.
// The chain owns one reference to each element for as long as it lives, so a chain that fails
// half-way (an element that cannot be made, a link refused) leaves nothing behind and nothing
// to free by hand. Used by the writers on the thread that builds the graph.
#pragma once

#include "platform/system/Handles.h"

#include <cstddef>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace kelo {

class ElementChain {
public:
    ElementChain() = default;
    ElementChain(const ElementChain&) = delete;
    ElementChain& operator=(const ElementChain&) = delete;
    ElementChain(ElementChain&& other) noexcept
        : elements_(std::move(other.elements_)), bin_(std::exchange(other.bin_, nullptr)),
          missing_(std::move(other.missing_)) {}
    ElementChain& operator=(ElementChain&& other) noexcept {
        elements_ = std::move(other.elements_);
        bin_ = std::exchange(other.bin_, nullptr);
        missing_ = std::move(other.missing_);
        return *this;
    }

    // Makes one element per factory. False when one cannot be made (named by
    // MissingFactory()); the chain is then empty.
    [[nodiscard]] bool Make(const std::vector<const char*>& factories);

    // Adds every element to the bin and links each to the next. False when an element is
    // refused by the bin or a link fails; the elements already added are taken out again.
    [[nodiscard]] bool AddAndLink(GstBin* bin);

    // Takes every element out of the bin it was added to (stopped first). Safe to call twice.
    void RemoveFromBin();

    // Brings every element to the state of its bin (for elements added to a running bin).
    void SyncStateWithParent();

    // Borrowed pointers, valid while the chain lives.
    GstElement* at(std::size_t i) const { return elements_[i].get(); }
    GstElement* front() const { return elements_.front().get(); }
    GstElement* back() const { return elements_.back().get(); }
    std::size_t size() const { return elements_.size(); }
    bool empty() const { return elements_.empty(); }
    const std::string& MissingFactory() const { return missing_; }

private:
    std::vector<ElementPtr> elements_;
    GstBin* bin_ = nullptr; // borrowed: the bin the elements were added to, if any
    std::string missing_;
};

} // namespace kelo
