#include "platform/filters/ElementChain.h"

GST_DEBUG_CATEGORY_EXTERN(kelo_graph_debug);
#define GST_CAT_DEFAULT kelo_graph_debug

namespace kelo {

bool ElementChain::Make(const std::vector<const char*>& factories) {
    elements_.clear();
    missing_.clear();
    for (const char* factory : factories) {
        ElementPtr element = ElementPtr::RefSink(gst_element_factory_make(factory, nullptr));
        if (!element) {
            GST_WARNING("cannot make the element %s", factory);
            missing_ = factory;
            elements_.clear();
            return false;
        }
        elements_.push_back(std::move(element));
    }
    return true;
}

bool ElementChain::AddAndLink(GstBin* bin) {
    if (!bin || bin_)
        return false;
    for (const ElementPtr& element : elements_) {
        if (!gst_bin_add(bin, element.get())) {
            GST_WARNING("the bin refused %s", GST_ELEMENT_NAME(element.get()));
            // Only the ones added before this one are in the bin.
            for (const ElementPtr& added : elements_) {
                if (added.get() == element.get())
                    break;
                (void)gst_bin_remove(bin, added.get()); // it was added just now: it is there
            }
            return false;
        }
    }
    bin_ = bin;
    for (std::size_t i = 0; i + 1 < elements_.size(); ++i) {
        if (!gst_element_link(elements_[i].get(), elements_[i + 1].get())) {
            GST_WARNING("cannot link %s to %s", GST_ELEMENT_NAME(elements_[i].get()),
                        GST_ELEMENT_NAME(elements_[i + 1].get()));
            RemoveFromBin();
            return false;
        }
    }
    return true;
}

void ElementChain::RemoveFromBin() {
    if (!bin_)
        return;
    for (const ElementPtr& element : elements_) {
        (void)gst_element_set_state(element.get(), GST_STATE_NULL); // NULL never fails to be set
        (void)gst_bin_remove(bin_, element.get()); // added by AddAndLink: it is there
    }
    bin_ = nullptr;
}

void ElementChain::SyncStateWithParent() {
    for (const ElementPtr& element : elements_)
        (void)gst_element_sync_state_with_parent(element.get()); // a failure shows on the bus
}

} // namespace kelo
