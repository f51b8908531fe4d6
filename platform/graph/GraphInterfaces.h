// The interfaces of the graph layer, as the engine calls them: a filter graph with its run
// control, event notification and video window; stream configuration; file sinks; the Sample
// Grabber; the system device enumerator and its monitors and property bags; the capture graph
// builder. Components implement them; callers find them with QueryInterface.
#pragma once

#include "platform/contracts/SampleGrabberCallback.h"
#include "platform/graph/BaseFilter.h"
#include "platform/graph/MediaType.h"
#include "platform/graph/VideoModeNegotiation.h"
#include "platform/system/HResult.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kelo {

class Pin;
class PreviewSurface;
using FilterPtr = std::shared_ptr<BaseFilter>;
using PinPtr = std::shared_ptr<Pin>;

class IGraphBuilder {
public:
    virtual ~IGraphBuilder() = default;
    // Adds the filter under the name (unique in the graph: a taken name gets " 0001", " 0002"...
    // appended and VFW_S_DUPLICATE_NAME is returned). E_POINTER without a filter, E_FAIL when the
    // filter is already in a graph.
    [[nodiscard]] virtual HRESULT AddFilter(const FilterPtr& filter, std::string_view name) = 0;
    [[nodiscard]] virtual HRESULT RemoveFilter(const FilterPtr& filter) = 0;
    [[nodiscard]] virtual HRESULT FindFilterByName(std::string_view name, FilterPtr* filter) const = 0;
    // The filters in the order they were added, with their names.
    virtual std::vector<std::pair<std::string, FilterPtr>> EnumFilters() const = 0;
    // Intelligent connect: links the two pins, inserting a converter when their formats differ.
    // VFW_E_CANNOT_CONNECT when no converter helps; VFW_E_ALREADY_CONNECTED; E_POINTER.
    [[nodiscard]] virtual HRESULT Connect(const PinPtr& output, const PinPtr& input) = 0;
    // Links the two pins as they are (optionally restricted to a media type).
    [[nodiscard]] virtual HRESULT ConnectDirect(const PinPtr& output, const PinPtr& input,
                                  const MediaType* type) = 0;
};

enum class FilterState { Stopped = 0, Paused = 1, Running = 2 };

class IMediaControl {
public:
    virtual ~IMediaControl() = default;
    // S_OK, or E_FAIL when an element refused to start.
    [[nodiscard]] virtual HRESULT Run() = 0;
    [[nodiscard]] virtual HRESULT Pause() = 0;
    // Returns once every streaming thread has ended (the pipeline is in NULL). A graph that
    // writes files is drained first (end of stream), so that muxers complete them.
    [[nodiscard]] virtual HRESULT Stop() = 0;
    [[nodiscard]] virtual HRESULT GetState(int timeoutMs, FilterState* state) = 0;
};

// What the graph reports while it runs.
struct GraphEvent {
    // FramesDropped: a branch of a tee that writes a file could not keep up and lost frames
    // (`message` says how many so far); posted once per run.
    enum class Code { ErrorAbort, Complete, Warning, FramesDropped };
    Code code = Code::ErrorAbort;
    HRESULT hr = S_OK;
    std::string source;  // name of the filter that reported it
    std::string message; // the platform's text
    int systemError = 0; // errno behind an error of a file (ENOSPC, EROFS ...), when known
};

// Called on the thread that posted the event, usually a streaming thread: the receiver must not
// call back into the graph there, only hand the event over to its own thread.
using GraphEventCallback = std::function<void(const GraphEvent&)>;

class IMediaEventEx {
public:
    virtual ~IMediaEventEx() = default;
    // Replaces the receiver (empty: none). Once this returns, the old receiver is not running and
    // will not be called again.
    [[nodiscard]] virtual HRESULT SetNotifyCallback(GraphEventCallback callback) = 0;
};

class IVideoWindow {
public:
    virtual ~IVideoWindow() = default;
    [[nodiscard]] virtual HRESULT put_Owner(PreviewSurface* owner) = 0;
    [[nodiscard]] virtual HRESULT get_Owner(PreviewSurface** owner) const = 0;
    [[nodiscard]] virtual HRESULT put_WindowStyle(long style) = 0;
    [[nodiscard]] virtual HRESULT put_MessageDrain(PreviewSurface* drain) = 0;
    [[nodiscard]] virtual HRESULT put_Left(long left) = 0;
    [[nodiscard]] virtual HRESULT put_Top(long top) = 0;
    [[nodiscard]] virtual HRESULT put_Width(long width) = 0;
    [[nodiscard]] virtual HRESULT put_Height(long height) = 0;
    [[nodiscard]] virtual HRESULT GetWindowPosition(long* left, long* top, long* width, long* height) const = 0;
    [[nodiscard]] virtual HRESULT SetWindowForeground(bool focus) = 0;
    [[nodiscard]] virtual HRESULT put_Visible(bool visible) = 0;
    [[nodiscard]] virtual HRESULT get_Visible(bool* visible) const = 0;
    [[nodiscard]] virtual HRESULT put_FullScreenMode(bool fullScreen) = 0;
    [[nodiscard]] virtual HRESULT get_FullScreenMode(bool* fullScreen) const = 0;
};

inline constexpr long WS_CHILD = 0x40000000L;
inline constexpr long WS_CLIPSIBLINGS = 0x04000000L;
inline constexpr long WS_CLIPCHILDREN = 0x02000000L;

class IAMStreamConfig {
public:
    virtual ~IAMStreamConfig() = default;
    [[nodiscard]] virtual HRESULT GetFormat(MediaType* type) = 0;
    // VFW_E_INVALIDMEDIATYPE when the component cannot produce the type (it keeps its format).
    [[nodiscard]] virtual HRESULT SetFormat(const MediaType& type) = 0;
    // The video modes the component can be set to, listed for `requested` (ranges are read at
    // the common sizes and rates and at the requested one). S_FALSE with no modes: it takes any
    // format (nothing to choose from). E_NOTIMPL: not a video source.
    [[nodiscard]] virtual HRESULT GetOfferedModes(VideoMode /*requested*/,
                                                  std::vector<OfferedMode>* /*modes*/) {
        return E_NOTIMPL;
    }
};

class IFileSinkFilter {
public:
    virtual ~IFileSinkFilter() = default;
    [[nodiscard]] virtual HRESULT SetFileName(std::string_view path, const MediaType* type) = 0;
    [[nodiscard]] virtual HRESULT GetCurFile(std::string* path) const = 0;
};

class ISampleGrabber {
public:
    virtual ~ISampleGrabber() = default;
    // The only type the grabber accepts when it is connected.
    [[nodiscard]] virtual HRESULT SetMediaType(const MediaType& type) = 0;
    [[nodiscard]] virtual HRESULT SetBufferSamples(bool buffer) = 0;
    [[nodiscard]] virtual HRESULT SetOneShot(bool oneShot) = 0;
    // The callback is borrowed: its holder keeps it alive until the grabber has been stopped.
    // which: 0 SampleCB, 1 BufferCB.
    [[nodiscard]] virtual HRESULT SetCallback(ISampleGrabberCB* callback, int which) = 0;
};

class IPropertyBag {
public:
    virtual ~IPropertyBag() = default;
    // "FriendlyName" and the other properties of a device; E_FAIL when missing.
    [[nodiscard]] virtual HRESULT Read(std::string_view property, std::string* value) const = 0;
};

// A device (or compressor) found by the enumerator.
class IMoniker {
public:
    virtual ~IMoniker() = default;
    [[nodiscard]] virtual HRESULT BindToStorage(std::shared_ptr<IPropertyBag>* bag) = 0;
    // A new filter for the device.
    [[nodiscard]] virtual HRESULT BindToObject(FilterPtr* filter) = 0;
};

using MonikerList = std::vector<std::shared_ptr<IMoniker>>;

class ICreateDevEnum {
public:
    virtual ~ICreateDevEnum() = default;
    // S_OK with the monikers of the category in enumeration order; S_FALSE (and no monikers)
    // when the category is empty; E_INVALIDARG for an unknown category.
    [[nodiscard]] virtual HRESULT CreateClassEnumerator(std::string_view category, MonikerList* monikers) = 0;
};

class ICaptureGraphBuilder2 {
public:
    virtual ~ICaptureGraphBuilder2() = default;
    [[nodiscard]] virtual HRESULT SetFiltergraph(const std::shared_ptr<IGraphBuilder>& graph) = 0;
    [[nodiscard]] virtual HRESULT GetFiltergraph(std::shared_ptr<IGraphBuilder>* graph) const = 0;
    // The stream configuration of the filter's output pin of that category and type (a capture
    // device, a compressor). E_NOINTERFACE when it has none.
    [[nodiscard]] virtual HRESULT FindInterface(std::string_view category, std::string_view type,
                                  const FilterPtr& filter,
                                  std::shared_ptr<IAMStreamConfig>* config) = 0;
    // Adds a multiplexer for the subtype (MEDIASUBTYPE_Avi) and a file writer for the file, links
    // them, and returns the multiplexer and the writer's file sink.
    [[nodiscard]] virtual HRESULT SetOutputFileName(std::string_view subtype, std::string_view file,
                                      FilterPtr* mux, std::shared_ptr<IFileSinkFilter>* sink) = 0;
    // Connects the source's unconnected output pin of that category and type, through the
    // compressor when one is given, to the sink's unconnected input pin.
    [[nodiscard]] virtual HRESULT RenderStream(std::string_view category, std::string_view type,
                                 const FilterPtr& source, const FilterPtr& compressor,
                                 const FilterPtr& sink) = 0;
};

// A capture device produces top-down rows (the platform's own order); every component inside the
// graph passes bottom-up RGB24. The Color Space Converter flips when its upstream says so.
class IRowOrderSource {
public:
    virtual ~IRowOrderSource() = default;
    virtual bool ProducesTopDownRows() const = 0;
};

// Told by the graph, when its input is connected, whether the upstream filter delivers top-down
// rows.
class IRowOrderSink {
public:
    virtual ~IRowOrderSink() = default;
    virtual void SetInputTopDown(bool topDown) = 0;
};

// A filter that passes pictures on without touching their rows (a converter the graph inserted,
// a tee): what it is told about its input is what it says about its output, so the Color Space
// Converter behind it still learns that a device's rows are top-down.
class RowOrderPassThrough : public IRowOrderSource, public IRowOrderSink {
public:
    bool ProducesTopDownRows() const override { return topDown_; }
    void SetInputTopDown(bool topDown) override { topDown_ = topDown; }

private:
    bool topDown_ = false; // written while connecting, on the owner's thread
};

} // namespace kelo
