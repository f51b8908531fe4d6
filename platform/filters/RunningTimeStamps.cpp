#include "platform/filters/RunningTimeStamps.h"

namespace kelo {

namespace {

// The segment the upstream element announced last; touched only by the pad's streaming thread.
struct StampState {
    GstSegment segment;
    bool haveSegment = false;
};

GstClockTime ToRunningTime(const GstSegment& segment, GstClockTime time) {
    if (!GST_CLOCK_TIME_IS_VALID(time))
        return time;
    guint64 running = 0;
    const int sign = gst_segment_to_running_time_full(&segment, GST_FORMAT_TIME, time, &running);
    return sign > 0 ? running : 0;
}

GstPadProbeReturn Stamp(GstPad*, GstPadProbeInfo* info, gpointer user) {
    auto* state = static_cast<StampState*>(user);
    if (info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) != GST_EVENT_SEGMENT)
            return GST_PAD_PROBE_OK;
        const GstSegment* segment = nullptr;
        gst_event_parse_segment(event, &segment);
        if (segment->format != GST_FORMAT_TIME)
            return GST_PAD_PROBE_OK;
        gst_segment_copy_into(segment, &state->segment);
        state->haveSegment = true;
        GstSegment zero;
        gst_segment_init(&zero, GST_FORMAT_TIME);
        GstEvent* replacement = gst_event_new_segment(&zero);
        gst_event_set_seqnum(replacement, gst_event_get_seqnum(event));
        gst_event_unref(event);
        GST_PAD_PROBE_INFO_DATA(info) = replacement;
        return GST_PAD_PROBE_OK;
    }
    if (!state->haveSegment || !(info->type & GST_PAD_PROBE_TYPE_BUFFER))
        return GST_PAD_PROBE_OK;
    GstBuffer* buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
    GST_BUFFER_PTS(buffer) = ToRunningTime(state->segment, GST_BUFFER_PTS(buffer));
    GST_BUFFER_DTS(buffer) = ToRunningTime(state->segment, GST_BUFFER_DTS(buffer));
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    return GST_PAD_PROBE_OK;
}

} // namespace

void StampWithRunningTime(GstPad* pad) {
    gst_pad_add_probe(pad,
                      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                   GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                      Stamp, new StampState{},
                      [](gpointer user) { delete static_cast<StampState*>(user); });
}

} // namespace kelo
