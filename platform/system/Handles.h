// The one place where GStreamer and GLib references are owned. Every other file holds
// these handles and never calls an unref/free/destroy function itself.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

#include <glib.h>
#include <gst/gst.h>
#include <unistd.h>

namespace kelo {

// A unique owning reference to a GstObject-derived instance (element, pad, bus, device, ...).
template <typename T> class GstPtr {
public:
    GstPtr() = default;
    // Takes ownership of one reference (a "transfer full" return value).
    explicit GstPtr(T* owned) : ptr_(owned) {}
    GstPtr(const GstPtr& other) : ptr_(other.ptr_ ? static_cast<T*>(gst_object_ref(other.ptr_)) : nullptr) {}
    GstPtr(GstPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    GstPtr& operator=(GstPtr other) noexcept {
        std::swap(ptr_, other.ptr_);
        return *this;
    }
    ~GstPtr() { reset(); }

    // Adds a reference to a borrowed pointer ("transfer none").
    static GstPtr Ref(T* borrowed) {
        return GstPtr(borrowed ? static_cast<T*>(gst_object_ref(borrowed)) : nullptr);
    }
    // Sinks a floating reference (a freshly made element) and owns it.
    static GstPtr RefSink(T* floating) {
        return GstPtr(floating ? static_cast<T*>(gst_object_ref_sink(floating)) : nullptr);
    }

    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    T* release() { return std::exchange(ptr_, nullptr); }
    void reset(T* owned = nullptr) {
        if (T* old = std::exchange(ptr_, owned))
            gst_object_unref(old);
    }

private:
    T* ptr_ = nullptr;
};

using ElementPtr = GstPtr<GstElement>;
using PadPtr = GstPtr<GstPad>;
using BusPtr = GstPtr<GstBus>;
using DevicePtr = GstPtr<GstDevice>;
using DeviceMonitorPtr = GstPtr<GstDeviceMonitor>;
using ClockPtr = GstPtr<GstClock>;

// Mini objects and boxed GLib values: a deleter per type.
struct CapsUnref { void operator()(GstCaps* p) const { gst_caps_unref(p); } };
struct BufferUnref { void operator()(GstBuffer* p) const { gst_buffer_unref(p); } };
struct SampleUnref { void operator()(GstSample* p) const { gst_sample_unref(p); } };
struct MessageUnref { void operator()(GstMessage* p) const { gst_message_unref(p); } };
struct EventUnref { void operator()(GstEvent* p) const { gst_event_unref(p); } };
struct QueryUnref { void operator()(GstQuery* p) const { gst_query_unref(p); } };
struct StructureFree { void operator()(GstStructure* p) const { gst_structure_free(p); } };
struct IteratorFree { void operator()(GstIterator* p) const { gst_iterator_free(p); } };
struct ErrorFree { void operator()(GError* p) const { g_error_free(p); } };
struct GFree { void operator()(void* p) const { g_free(p); } };
struct GListFreeObjects {
    void operator()(GList* p) const { g_list_free_full(p, gst_object_unref); }
};
struct GMainLoopUnref { void operator()(GMainLoop* p) const { g_main_loop_unref(p); } };
struct GSourceUnref { void operator()(GSource* p) const { g_source_unref(p); } };
struct GMainContextUnref { void operator()(GMainContext* p) const { g_main_context_unref(p); } };

using CapsPtr = std::unique_ptr<GstCaps, CapsUnref>;
using BufferPtr = std::unique_ptr<GstBuffer, BufferUnref>;
using SamplePtr = std::unique_ptr<GstSample, SampleUnref>;
using MessagePtr = std::unique_ptr<GstMessage, MessageUnref>;
using EventPtr = std::unique_ptr<GstEvent, EventUnref>;
using QueryPtr = std::unique_ptr<GstQuery, QueryUnref>;
using StructurePtr = std::unique_ptr<GstStructure, StructureFree>;
using IteratorPtr = std::unique_ptr<GstIterator, IteratorFree>;
using GErrorPtr = std::unique_ptr<GError, ErrorFree>;
using GCharPtr = std::unique_ptr<gchar, GFree>;
using GObjectListPtr = std::unique_ptr<GList, GListFreeObjects>;
using MainLoopPtr = std::unique_ptr<GMainLoop, GMainLoopUnref>;
using GSourcePtr = std::unique_ptr<GSource, GSourceUnref>;
using MainContextPtr = std::unique_ptr<GMainContext, GMainContextUnref>;

// A mapped GstBuffer; unmaps on destruction.
class BufferMap {
public:
    BufferMap(GstBuffer* buffer, GstMapFlags flags) : buffer_(buffer) {
        mapped_ = buffer_ && gst_buffer_map(buffer_, &info_, flags);
    }
    BufferMap(const BufferMap&) = delete;
    BufferMap& operator=(const BufferMap&) = delete;
    ~BufferMap() {
        if (mapped_)
            gst_buffer_unmap(buffer_, &info_);
    }
    bool ok() const { return mapped_; }
    guint8* data() const { return info_.data; }
    gsize size() const { return info_.size; }

private:
    GstBuffer* buffer_ = nullptr;
    GstMapInfo info_ = GST_MAP_INFO_INIT;
    bool mapped_ = false;
};

// A stdio file; closed on destruction.
struct FileClose { void operator()(std::FILE* f) const { std::fclose(f); } };
using FilePtr = std::unique_ptr<std::FILE, FileClose>;

// Memory from the C library (realpath, strdup); freed on destruction.
struct CFree { void operator()(void* p) const { std::free(p); } };
using CCharPtr = std::unique_ptr<char, CFree>;

// A POSIX file descriptor; closed on destruction. -1 holds nothing.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int owned) : fd_(owned) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        reset(std::exchange(other.fd_, -1));
        return *this;
    }
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int owned = -1) {
        if (int old = std::exchange(fd_, owned); old >= 0)
            (void)::close(old); // nothing is left to do about a failed close of a pipe or a file
    }

private:
    int fd_ = -1;
};

} // namespace kelo
