#include "platform/graph/FilterGraph.h"

#include <cerrno>
#include <cstring>

#include "platform/filters/StreamFilters.h"
#include "platform/graph/ElementFactory.h"
#include "platform/system/GstRuntime.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>
#include <utility>

GST_DEBUG_CATEGORY_EXTERN(kelo_graph_debug);
#define GST_CAT_DEFAULT kelo_graph_debug

namespace kelo {

namespace {

// Writes the graph as a GStreamer dot file into KELOCAM_DEBUG_DOT (a folder), one file a run.
void WriteDotFile(GstElement* pipeline) {
    const char* folder = std::getenv("KELOCAM_DEBUG_DOT");
    if (!folder || !*folder)
        return;
    static std::atomic<int> runs{0};
    const std::string path = std::string(folder) + "/kelo-graph-" + std::to_string(getpid()) + "-" +
                             std::to_string(++runs) + ".dot";
    GCharPtr dot(gst_debug_bin_to_dot_data(GST_BIN(pipeline), GST_DEBUG_GRAPH_SHOW_ALL));
    std::FILE* file = dot ? std::fopen(path.c_str(), "w") : nullptr;
    if (!file) {
        GST_WARNING("cannot write the graph to %s", path.c_str());
        return;
    }
    std::fputs(dot.get(), file);
    std::fclose(file);
    GST_INFO("graph written to %s", path.c_str());
}

// The converter intelligent connect puts between two pins: decoding and format conversion keep
// the picture's row order, so a device's top-down rows reach the Color Space Converter as such.
class InsertedConverter : public BaseFilter, public RowOrderPassThrough {
public:
    using BaseFilter::BaseFilter;
};

} // namespace

FilterGraph::FilterGraph() {
    EnsureGstInitialized();
    pipeline_ = ElementPtr::RefSink(gst_pipeline_new(nullptr));
    bus_ = BusPtr(gst_element_get_bus(pipeline_.get()));
    gst_bus_set_sync_handler(bus_.get(), &FilterGraph::OnBusMessage, this, nullptr);
}

FilterGraph::~FilterGraph() {
    (void)SetNotifyCallback(nullptr); // clearing the callback never fails
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    gst_bus_set_sync_handler(bus_.get(), nullptr, nullptr, nullptr);
    filters_.clear();
}

// ---------------------------------------------------------------------------------------------
// Filters

std::string FilterGraph::UniqueName(std::string_view wanted) const {
    auto taken = [this](const std::string& name) {
        for (const Entry& e : filters_) {
            if (e.name == name)
                return true;
        }
        return false;
    };
    std::string name(wanted);
    for (int n = 1; taken(name); ++n) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, " %04d", n);
        name = std::string(wanted) + suffix;
    }
    return name;
}

HRESULT FilterGraph::AddFilter(const FilterPtr& filter, std::string_view name) {
    if (!filter || !filter->element())
        return E_POINTER;
    GstElement* element = filter->element();
    if (GstObject* parent = gst_object_get_parent(GST_OBJECT(element))) {
        GstPtr<GstObject> discard(parent);
        return E_FAIL;
    }
    const std::string unique = UniqueName(name);
    if (!gst_object_set_name(GST_OBJECT(element), unique.c_str()))
        return E_FAIL;
    if (!gst_bin_add(GST_BIN(pipeline_.get()), element))
        return E_FAIL;
    filters_.push_back({unique, filter});
    return unique == name ? S_OK : VFW_S_DUPLICATE_NAME;
}

HRESULT FilterGraph::RemoveFilter(const FilterPtr& filter) {
    if (!filter)
        return E_POINTER;
    for (auto it = filters_.begin(); it != filters_.end(); ++it) {
        if (it->filter != filter)
            continue;
        gst_element_set_state(filter->element(), GST_STATE_NULL);
        gst_bin_remove(GST_BIN(pipeline_.get()), filter->element());
        std::erase(branchQueues_, filter);
        filters_.erase(it);
        return S_OK;
    }
    return VFW_E_NOT_FOUND;
}

HRESULT FilterGraph::FindFilterByName(std::string_view name, FilterPtr* filter) const {
    if (!filter)
        return E_POINTER;
    filter->reset();
    for (const Entry& e : filters_) {
        if (e.name == name) {
            *filter = e.filter;
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

std::vector<std::pair<std::string, FilterPtr>> FilterGraph::EnumFilters() const {
    std::vector<std::pair<std::string, FilterPtr>> all;
    for (const Entry& e : filters_)
        all.emplace_back(e.name, e.filter);
    return all;
}

FilterPtr FilterGraph::FilterOfElement(GstElement* element) const {
    for (const Entry& e : filters_) {
        if (e.filter->element() == element)
            return e.filter;
    }
    return nullptr;
}

bool FilterGraph::Contains(GstElement* element) const {
    return FilterOfElement(element) != nullptr;
}

// ---------------------------------------------------------------------------------------------
// Connections

HRESULT FilterGraph::ConnectDirect(const PinPtr& output, const PinPtr& input,
                                   const MediaType* type) {
    if (!output || !input)
        return E_POINTER;
    if (output->QueryDirection() != PinDirection::Output ||
        input->QueryDirection() != PinDirection::Input)
        return E_INVALIDARG;
    if (!Contains(output->element()) || !Contains(input->element()))
        return VFW_E_NOT_FOUND;
    if (output->IsConnected() || input->IsConnected())
        return VFW_E_ALREADY_CONNECTED;

    CapsPtr restriction = type ? CapsFromMediaType(*type) : nullptr;
    if (type && !restriction)
        return VFW_E_INVALIDMEDIATYPE;

    // Free request pins take the template that fits the other side.
    CapsPtr outCaps = output->QueryCaps();
    HRESULT hr = input->Materialise(outCaps.get());
    if (FAILED(hr))
        return hr;
    CapsPtr inCaps = input->QueryCaps();
    hr = output->Materialise(inCaps.get());
    if (FAILED(hr)) {
        input->ReleaseIfUnlinked();
        return hr;
    }
    outCaps = output->QueryCaps();
    inCaps = input->QueryCaps();

    bool fits = outCaps && inCaps && gst_caps_can_intersect(outCaps.get(), inCaps.get());
    if (fits && restriction) {
        CapsPtr both(gst_caps_intersect(outCaps.get(), inCaps.get()));
        fits = gst_caps_can_intersect(both.get(), restriction.get());
    }
    FilterPtr up = FilterOfElement(output->element());
    FilterPtr down = FilterOfElement(input->element());
    if (fits && dynamic_cast<IBranchingFilter*>(up.get()))
        fits = LinkThroughQueue(output->pad(), input->pad());
    else if (fits && gst_pad_link(output->pad(), input->pad()) != GST_PAD_LINK_OK)
        fits = false;
    if (!fits) {
        if (GST_LEVEL_DEBUG <= gst_debug_category_get_threshold(kelo_graph_debug)) {
            GCharPtr from(outCaps ? gst_caps_to_string(outCaps.get()) : g_strdup("none"));
            GCharPtr to(inCaps ? gst_caps_to_string(inCaps.get()) : g_strdup("none"));
            GST_DEBUG("%s does not link directly to %s: %s against %s",
                      GST_ELEMENT_NAME(output->element()), GST_ELEMENT_NAME(input->element()),
                      from.get(), to.get());
        }
        output->ReleaseIfUnlinked();
        input->ReleaseIfUnlinked();
        return VFW_E_CANNOT_CONNECT;
    }

    // Tell a converter whether its upstream delivers the platform's top-down rows.
    if (auto* sink = dynamic_cast<IRowOrderSink*>(down.get())) {
        auto* source = dynamic_cast<IRowOrderSource*>(up.get());
        sink->SetInputTopDown(source && source->ProducesTopDownRows());
    }
    return S_OK;
}

bool FilterGraph::LinkThroughQueue(GstPad* output, GstPad* input) {
    ElementPtr queue = MakeElement("queue");
    if (!queue)
        return false;
    // Every branch of a tee has its own thread, so that one slow branch never holds up the
    // others. Until Run knows where the branch leads, it is sized as a file branch.
    g_object_set(queue.get(), "max-size-buffers", kFileBranchFrames, "max-size-bytes", 0,
                 "max-size-time", G_GUINT64_CONSTANT(0), nullptr);
    gst_util_set_object_arg(G_OBJECT(queue.get()), "leaky", "upstream");
    g_signal_connect(queue.get(), "overrun", G_CALLBACK(&FilterGraph::OnQueueOverrun), this);
    auto filter = std::make_shared<BaseFilter>(std::move(queue));
    if (FAILED(AddFilter(filter, "Queue")))
        return false;
    branchQueues_.push_back(filter);
    PadPtr sink(gst_element_get_static_pad(filter->element(), "sink"));
    PadPtr src(gst_element_get_static_pad(filter->element(), "src"));
    if (gst_pad_link(output, sink.get()) == GST_PAD_LINK_OK) {
        if (gst_pad_link(src.get(), input) == GST_PAD_LINK_OK)
            return true;
        gst_pad_unlink(output, sink.get());
    }
    branchQueues_.pop_back();
    RemoveFilter(filter);
    return false;
}

bool FilterGraph::LeadsToVideoWindow(GstElement* element, int depth) const {
    if (depth > 32)
        return false;
    if (dynamic_cast<IVideoWindow*>(FilterOfElement(element).get()))
        return true;
    std::vector<PadPtr> outputs;
    GST_OBJECT_LOCK(element);
    for (GList* l = element->srcpads; l; l = l->next)
        outputs.push_back(PadPtr::Ref(static_cast<GstPad*>(l->data)));
    GST_OBJECT_UNLOCK(element);
    for (const PadPtr& pad : outputs) {
        PadPtr peer(gst_pad_get_peer(pad.get()));
        if (!peer)
            continue;
        ElementPtr next(gst_pad_get_parent_element(peer.get()));
        if (next && LeadsToVideoWindow(next.get(), depth + 1))
            return true;
    }
    return false;
}

void FilterGraph::PrepareBranchQueues() {
    // The branch that ends in the renderer may drop old frames: the preview shows the newest.
    // Any other branch (the file) keeps every frame while it keeps up, and when it cannot (a
    // slow disk) drops the newest frames rather than stall the preview and the virtual camera.
    for (const FilterPtr& queue : branchQueues_) {
        const bool preview = LeadsToVideoWindow(queue->element(), 0);
        g_object_set(queue->element(), "max-size-buffers",
                     preview ? kPreviewBranchFrames : kFileBranchFrames, nullptr);
        gst_util_set_object_arg(G_OBJECT(queue->element()), "leaky",
                                preview ? "downstream" : "upstream");
        g_object_set_data(G_OBJECT(queue->element()), "kelo-file-branch",
                          GINT_TO_POINTER(preview ? 0 : 1));
    }
}

void FilterGraph::OnQueueOverrun(GstElement* queue, gpointer self) noexcept {
    // Streaming thread of the tee. A full file branch drops the frame that overran it.
    if (!GPOINTER_TO_INT(g_object_get_data(G_OBJECT(queue), "kelo-file-branch")))
        return;
    auto* graph = static_cast<FilterGraph*>(self);
    const std::uint64_t dropped = ++graph->droppedFrames_;
    if (graph->dropsReported_.exchange(true))
        return;
    GraphEvent event;
    event.code = GraphEvent::Code::FramesDropped;
    event.hr = S_OK;
    event.source = graph->TopLevelName(GST_OBJECT(queue));
    event.message = "the file cannot keep up with the camera; " + std::to_string(dropped) +
                    " frame(s) dropped so far";
    try {
        graph->Notify(event);
    } catch (...) {
        // Nothing leaves a streaming-thread callback.
    }
}

HRESULT FilterGraph::Connect(const PinPtr& output, const PinPtr& input) {
    HRESULT hr = ConnectDirect(output, input, nullptr);
    if (hr != VFW_E_CANNOT_CONNECT)
        return hr;
    return InsertConverter(output, input);
}

HRESULT FilterGraph::InsertConverter(const PinPtr& output, const PinPtr& input) {
    CapsPtr caps = output->QueryCaps();
    if (!caps || gst_caps_is_empty(caps.get()) || gst_caps_is_any(caps.get()))
        return VFW_E_CANNOT_CONNECT;
    const std::string_view media = gst_structure_get_name(gst_caps_get_structure(caps.get(), 0));
    const bool video = media.substr(0, 6) == "video/" || media.substr(0, 6) == "image/";
    const bool audio = media.substr(0, 6) == "audio/";
    if (!video && !audio)
        return VFW_E_CANNOT_CONNECT;

    // Compressed video is decoded first; raw formats only need conversion.
    const bool decode = video && media != "video/x-raw";
    ElementPtr bin =
        MakeBin(video ? (decode ? "decodebin name=decode ! videoconvert" : "videoconvert")
                      : "audioconvert ! audioresample");
    if (!bin)
        return VFW_E_CANNOT_CONNECT;
    if (decode) {
        // The decoder's output pad appears only once it knows the stream, so the description's
        // unlinked input is the converter's: the bin's input must be the decoder's.
        ElementPtr decoder(gst_bin_get_by_name(GST_BIN(bin.get()), "decode"));
        PadPtr decoderInput(decoder ? gst_element_get_static_pad(decoder.get(), "sink") : nullptr);
        PadPtr binInput(gst_element_get_static_pad(bin.get(), "sink"));
        if (!decoderInput || !binInput ||
            !gst_ghost_pad_set_target(GST_GHOST_PAD(binInput.get()), decoderInput.get()))
            return VFW_E_CANNOT_CONNECT;
    }
    auto converter = std::make_shared<InsertedConverter>(std::move(bin));
    if (FAILED(AddFilter(converter, video ? "Video Converter" : "Audio Converter")))
        return VFW_E_CANNOT_CONNECT;
    PinPtr convIn;
    PinPtr convOut;
    if (SUCCEEDED(FindPin(converter, PinDirection::Input, true, &convIn)) &&
        SUCCEEDED(FindPin(converter, PinDirection::Output, true, &convOut)) &&
        ConnectDirect(output, convIn, nullptr) == S_OK) {
        if (ConnectDirect(convOut, input, nullptr) == S_OK)
            return S_OK;
        gst_pad_unlink(output->pad(), convIn->pad());
        output->ReleaseIfUnlinked();
    }
    GST_DEBUG("no %s converter links %s to %s", video ? "video" : "audio",
              GST_ELEMENT_NAME(output->element()), GST_ELEMENT_NAME(input->element()));
    (void)RemoveFilter(converter); // S_OK: it was added above
    return VFW_E_CANNOT_CONNECT;
}

// ---------------------------------------------------------------------------------------------
// Run control

void FilterGraph::PrepareIdleFilters() {
    // As on the platform the graph model comes from, a filter that is connected to nothing stays
    // idle, and an output pin that is not connected drops its data. Here a source with nowhere to
    // push stops the pipeline with "not linked", so unconnected filters are kept out of the state
    // changes and free always-outputs end in a sink of ours.
    for (const Entry& e : filters_) {
        GstElement* element = e.filter->element();
        std::vector<PadPtr> pads;
        GST_OBJECT_LOCK(element);
        for (GList* l = GST_ELEMENT_PADS(element); l; l = l->next)
            pads.push_back(PadPtr::Ref(static_cast<GstPad*>(l->data)));
        GST_OBJECT_UNLOCK(element);
        bool anyLinked = false;
        for (const PadPtr& pad : pads)
            anyLinked = anyLinked || gst_pad_is_linked(pad.get());
        gst_element_set_locked_state(element, !anyLinked);
        if (!anyLinked)
            continue;
        for (const PadPtr& pad : pads) {
            GstPadTemplate* templ = GST_PAD_PAD_TEMPLATE(pad.get());
            const bool always = !templ || GST_PAD_TEMPLATE_PRESENCE(templ) == GST_PAD_ALWAYS;
            if (GST_PAD_DIRECTION(pad.get()) != GST_PAD_SRC || !always ||
                gst_pad_is_linked(pad.get()))
                continue;
            ElementPtr drop = MakeElement("fakesink");
            if (!drop)
                continue;
            g_object_set(drop.get(), "sync", FALSE, "async", FALSE, "enable-last-sample", FALSE,
                         nullptr);
            gst_bin_add(GST_BIN(pipeline_.get()), drop.get());
            PadPtr sink(gst_element_get_static_pad(drop.get(), "sink"));
            gst_pad_link(pad.get(), sink.get());
        }
    }
}

HRESULT FilterGraph::Run() {
    {
        std::lock_guard lock(eosMutex_);
        eos_ = false;
    }
    errored_ = false;
    droppedFrames_ = 0;
    dropsReported_ = false;
    PrepareIdleFilters();
    PrepareBranchQueues();
    WriteDotFile(pipeline_.get());
    if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        GST_WARNING("the graph could not be started");
        return E_FAIL;
    }
    return S_OK;
}

HRESULT FilterGraph::Pause() {
    PrepareIdleFilters();
    PrepareBranchQueues();
    return gst_element_set_state(pipeline_.get(), GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE
               ? E_FAIL
               : S_OK;
}

bool FilterGraph::NeedsDrain() const {
    for (const Entry& e : filters_) {
        if (dynamic_cast<IFileSinkFilter*>(e.filter.get()))
            return true;
    }
    return false;
}

HRESULT FilterGraph::Stop() {
    GstState current = GST_STATE_NULL;
    gst_element_get_state(pipeline_.get(), &current, nullptr, 0);
    if (current == GST_STATE_PLAYING && NeedsDrain()) {
        // End of stream first, so that muxers write their headers and indexes and file writers
        // close complete files; then stop. A graph that does not drain in time is stopped anyway.
        {
            std::lock_guard lock(eosMutex_);
            eos_ = false;
        }
        //
        // Sending the event to a live source waits for its streaming thread, which a stuck
        // element downstream may hold forever: the event goes from a thread of its own, and the
        // change to NULL below (which unblocks every streaming thread) also ends that wait.
        GstElement* pipeline = pipeline_.get();
        std::thread sender([pipeline] { gst_element_send_event(pipeline, gst_event_new_eos()); });
        {
            std::unique_lock lock(eosMutex_);
            const int timeoutMs = errored_ ? kDrainAfterErrorTimeoutMs : kDrainTimeoutMs;
            eosSeen_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return eos_; });
        }
        gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
        sender.join();
        return S_OK;
    }
    // The change to NULL returns after every streaming thread of the pipeline has ended.
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    return S_OK;
}

HRESULT FilterGraph::GetState(int timeoutMs, FilterState* state) {
    if (!state)
        return E_POINTER;
    GstState current = GST_STATE_NULL;
    GstStateChangeReturn r = gst_element_get_state(
        pipeline_.get(), &current, nullptr, static_cast<GstClockTime>(timeoutMs) * GST_MSECOND);
    *state = current == GST_STATE_PLAYING  ? FilterState::Running
             : current == GST_STATE_PAUSED ? FilterState::Paused
                                           : FilterState::Stopped;
    if (r == GST_STATE_CHANGE_FAILURE)
        return E_FAIL;
    return r == GST_STATE_CHANGE_ASYNC ? VFW_S_STATE_INTERMEDIATE : S_OK;
}

// ---------------------------------------------------------------------------------------------
// Bus

HRESULT FilterGraph::SetNotifyCallback(GraphEventCallback callback) {
    GraphEventCallback old;
    {
        std::lock_guard lock(notifyMutex_);
        old = std::exchange(notify_, std::move(callback));
    }
    return S_OK; // `old` is destroyed here, outside the lock
}

void FilterGraph::Notify(const GraphEvent& event) {
    std::lock_guard lock(notifyMutex_);
    if (notify_)
        notify_(event);
}

std::string FilterGraph::TopLevelName(GstObject* object) const {
    // Messages come from elements inside a filter's bin: name the filter as it was added.
    GstPtr<GstObject> current = GstPtr<GstObject>::Ref(object);
    while (current) {
        GstPtr<GstObject> parent(gst_object_get_parent(current.get()));
        if (parent.get() == GST_OBJECT(pipeline_.get()))
            break;
        if (!parent)
            break;
        current = std::move(parent);
    }
    if (!current)
        return {};
    GCharPtr name(gst_object_get_name(current.get()));
    return name ? name.get() : "";
}

GstBusSyncReply FilterGraph::OnBusMessage(GstBus*, GstMessage* message, gpointer self) {
    // Nobody pops the bus: every message is dropped here, and a handler that drops a message
    // owns it.
    MessagePtr owned(message);
    static_cast<FilterGraph*>(self)->HandleBusMessage(message);
    return GST_BUS_DROP;
}

// The errno behind a resource error of a file writer: filesink reports a full disk by its code
// and other failed writes with the system's text in the details.
int FilterGraph::SystemErrorOf(const GError* error, const char* details) {
    if (!error || error->domain != GST_RESOURCE_ERROR)
        return 0;
    if (error->code == GST_RESOURCE_ERROR_NO_SPACE_LEFT)
        return ENOSPC;
    if (!details)
        return 0;
    for (int candidate : {ENOSPC, EDQUOT, EFBIG, EROFS, EACCES, EPERM, ENOENT, ENOTDIR, EIO}) {
        if (std::strstr(details, g_strerror(candidate)))
            return candidate;
    }
    return 0;
}

void FilterGraph::HandleBusMessage(GstMessage* message) {
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR:
    case GST_MESSAGE_WARNING: {
        GError* raw = nullptr;
        gchar* debug = nullptr;
        const bool error = GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR;
        if (error)
            gst_message_parse_error(message, &raw, &debug);
        else
            gst_message_parse_warning(message, &raw, &debug);
        GErrorPtr err(raw);
        GCharPtr details(debug);
        GraphEvent event;
        event.code = error ? GraphEvent::Code::ErrorAbort : GraphEvent::Code::Warning;
        if (error)
            errored_ = true;
        event.hr = error ? E_FAIL : S_OK;
        event.source = TopLevelName(GST_MESSAGE_SRC(message));
        event.message = err && err->message ? err->message : "";
        event.systemError = SystemErrorOf(err.get(), details.get());
        Notify(event);
        break;
    }
    case GST_MESSAGE_EOS: {
        {
            std::lock_guard lock(eosMutex_);
            eos_ = true;
        }
        eosSeen_.notify_all();
        GraphEvent event;
        event.code = GraphEvent::Code::Complete;
        Notify(event);
        break;
    }
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// Video window

IVideoWindow* FilterGraph::VideoWindow() const {
    for (const Entry& e : filters_) {
        if (auto* window = dynamic_cast<IVideoWindow*>(e.filter.get()))
            return window;
    }
    return nullptr;
}

#define KELO_FORWARD_VIDEO_WINDOW(call)                                                            \
    IVideoWindow* window = VideoWindow();                                                          \
    return window ? window->call : E_NOINTERFACE

HRESULT FilterGraph::put_Owner(PreviewSurface* owner) {
    KELO_FORWARD_VIDEO_WINDOW(put_Owner(owner));
}
HRESULT FilterGraph::get_Owner(PreviewSurface** owner) const {
    KELO_FORWARD_VIDEO_WINDOW(get_Owner(owner));
}
HRESULT FilterGraph::put_WindowStyle(long style) {
    KELO_FORWARD_VIDEO_WINDOW(put_WindowStyle(style));
}
HRESULT FilterGraph::put_MessageDrain(PreviewSurface* drain) {
    KELO_FORWARD_VIDEO_WINDOW(put_MessageDrain(drain));
}
HRESULT FilterGraph::put_Left(long left) {
    KELO_FORWARD_VIDEO_WINDOW(put_Left(left));
}
HRESULT FilterGraph::put_Top(long top) {
    KELO_FORWARD_VIDEO_WINDOW(put_Top(top));
}
HRESULT FilterGraph::put_Width(long width) {
    KELO_FORWARD_VIDEO_WINDOW(put_Width(width));
}
HRESULT FilterGraph::put_Height(long height) {
    KELO_FORWARD_VIDEO_WINDOW(put_Height(height));
}
HRESULT FilterGraph::GetWindowPosition(long* left, long* top, long* width, long* height) const {
    KELO_FORWARD_VIDEO_WINDOW(GetWindowPosition(left, top, width, height));
}
HRESULT FilterGraph::SetWindowForeground(bool focus) {
    KELO_FORWARD_VIDEO_WINDOW(SetWindowForeground(focus));
}
HRESULT FilterGraph::put_Visible(bool visible) {
    KELO_FORWARD_VIDEO_WINDOW(put_Visible(visible));
}
HRESULT FilterGraph::get_Visible(bool* visible) const {
    KELO_FORWARD_VIDEO_WINDOW(get_Visible(visible));
}
HRESULT FilterGraph::put_FullScreenMode(bool fullScreen) {
    KELO_FORWARD_VIDEO_WINDOW(put_FullScreenMode(fullScreen));
}
HRESULT FilterGraph::get_FullScreenMode(bool* fullScreen) const {
    KELO_FORWARD_VIDEO_WINDOW(get_FullScreenMode(fullScreen));
}

#undef KELO_FORWARD_VIDEO_WINDOW

} // namespace kelo
