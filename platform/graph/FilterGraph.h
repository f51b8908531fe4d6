// The filter graph: one GStreamer pipeline holding the filters under the names they were added
// with. It answers IGraphBuilder (filters, pins, intelligent connect), IMediaControl (run, stop),
// IMediaEventEx (errors and end of stream for the owner) and IVideoWindow (forwarded to the
// video renderer in the graph, E_NOINTERFACE while there is none).
//
// Threads: every operation runs on the owner's thread. The pipeline's bus is handled by a sync
// handler on whatever thread posts a message (streaming threads, or the owner's thread during a
// state change); it drops every message after passing errors, warnings and end of stream to the
// notify callback. Nothing else watches the bus, so no message queue grows and no main loop is
// needed.
#pragma once

#include "platform/graph/ClassRegistry.h"
#include "platform/graph/GraphInterfaces.h"
#include "platform/graph/Pin.h"
#include "platform/system/Handles.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace kelo {

class FilterGraph : public ComObject,
                    public IGraphBuilder,
                    public IMediaControl,
                    public IMediaEventEx,
                    public IVideoWindow {
public:
    FilterGraph();
    // Stops the pipeline (to NULL) and releases every filter.
    ~FilterGraph() override;

    // IGraphBuilder
    [[nodiscard]] HRESULT AddFilter(const FilterPtr& filter, std::string_view name) override;
    [[nodiscard]] HRESULT RemoveFilter(const FilterPtr& filter) override;
    [[nodiscard]] HRESULT FindFilterByName(std::string_view name, FilterPtr* filter) const override;
    std::vector<std::pair<std::string, FilterPtr>> EnumFilters() const override;
    [[nodiscard]] HRESULT Connect(const PinPtr& output, const PinPtr& input) override;
    [[nodiscard]] HRESULT ConnectDirect(const PinPtr& output, const PinPtr& input,
                          const MediaType* type) override;

    // IMediaControl
    [[nodiscard]] HRESULT Run() override;
    [[nodiscard]] HRESULT Pause() override;
    [[nodiscard]] HRESULT Stop() override;
    [[nodiscard]] HRESULT GetState(int timeoutMs, FilterState* state) override;

    // IMediaEventEx
    [[nodiscard]] HRESULT SetNotifyCallback(GraphEventCallback callback) override;

    // IVideoWindow, forwarded to the first filter in the graph that has a video window.
    [[nodiscard]] HRESULT put_Owner(PreviewSurface* owner) override;
    [[nodiscard]] HRESULT get_Owner(PreviewSurface** owner) const override;
    [[nodiscard]] HRESULT put_WindowStyle(long style) override;
    [[nodiscard]] HRESULT put_MessageDrain(PreviewSurface* drain) override;
    [[nodiscard]] HRESULT put_Left(long left) override;
    [[nodiscard]] HRESULT put_Top(long top) override;
    [[nodiscard]] HRESULT put_Width(long width) override;
    [[nodiscard]] HRESULT put_Height(long height) override;
    [[nodiscard]] HRESULT GetWindowPosition(long* left, long* top, long* width, long* height) const override;
    [[nodiscard]] HRESULT SetWindowForeground(bool focus) override;
    [[nodiscard]] HRESULT put_Visible(bool visible) override;
    [[nodiscard]] HRESULT get_Visible(bool* visible) const override;
    [[nodiscard]] HRESULT put_FullScreenMode(bool fullScreen) override;
    [[nodiscard]] HRESULT get_FullScreenMode(bool* fullScreen) const override;

    // Frames the file branches of the tees dropped since the last Run (they could not keep up).
    std::uint64_t droppedFrames() const { return droppedFrames_.load(); }
    // How many frames a file branch holds before it drops (a slow disk): 3 s at 15 per second.
    static constexpr int kFileBranchFrames = 45;
    // The preview branch keeps only the newest frames: the renderer shows the latest one.
    static constexpr int kPreviewBranchFrames = 2;

    // The pipeline (borrowed), for tests and diagnostics.
    GstElement* pipeline() const { return pipeline_.get(); }
    // How long Stop waits for a graph that writes files to drain; after an error, when a source
    // may never end its stream, a shorter while.
    static constexpr int kDrainTimeoutMs = 5000;
    static constexpr int kDrainAfterErrorTimeoutMs = 1000;

private:
    struct Entry {
        std::string name;
        FilterPtr filter;
    };

    static GstBusSyncReply OnBusMessage(GstBus* bus, GstMessage* message, gpointer self);
    static int SystemErrorOf(const GError* error, const char* details);
    void HandleBusMessage(GstMessage* message);
    void Notify(const GraphEvent& event);
    std::string TopLevelName(GstObject* object) const;

    FilterPtr FilterOfElement(GstElement* element) const;
    bool Contains(GstElement* element) const;
    bool NeedsDrain() const;
    IVideoWindow* VideoWindow() const;
    std::string UniqueName(std::string_view wanted) const;
    [[nodiscard]] HRESULT InsertConverter(const PinPtr& output, const PinPtr& input);
    bool LinkThroughQueue(GstPad* output, GstPad* input);
    void PrepareIdleFilters();
    void PrepareBranchQueues();
    bool LeadsToVideoWindow(GstElement* element, int depth) const;
    static void OnQueueOverrun(GstElement* queue, gpointer self) noexcept;

    ElementPtr pipeline_;
    BusPtr bus_;
    std::vector<Entry> filters_;
    std::vector<FilterPtr> branchQueues_; // the queues after tee outputs (also in filters_)

    // Counted on streaming threads (the tee's), reset by Run.
    std::atomic<std::uint64_t> droppedFrames_{0};
    std::atomic<bool> dropsReported_{false};

    std::mutex notifyMutex_;
    GraphEventCallback notify_;

    std::mutex eosMutex_;
    std::condition_variable eosSeen_;
    bool eos_ = false;
    std::atomic<bool> errored_{false}; // an error was posted since the last Run
};

} // namespace kelo
