#include "platform/filters/YuvToBgrElement.h"

#include "platform/filters/YuvToBgrRows.h"
#include "platform/system/Handles.h"
#include "platform/system/UncheckedFrameAccess.h"

#include <cstddef>
#include <cstdint>
#include <gst/video/gstvideofilter.h>
#include <gst/video/video.h>

namespace kelo {

namespace {

enum class Mode { Passthrough, Yuy2, I420 };

// The instance is plain C memory (GObject zeroes it): only trivially constructible members.
struct KeloYuvToBgr {
    GstVideoFilter parent;
    gboolean flip;        // written under the object lock; read by the streaming thread
    GstElement* follower; // borrowed: the row flip behind, in the same bin; may be null
    // Orders the follower's updates (see UpdateFollower); initialised in InstanceInit, cleared
    // in Finalize.
    GMutex followerOrder;
    // Written by set_info under the object lock and read by transform_frame, both on the
    // streaming thread; `mode` is also read (locked) when the flip is set from the owner thread.
    Mode mode;
    ChromaSiting siting;
    YuvToBgrCoefficients coefficients;
};

struct KeloYuvToBgrClass {
    GstVideoFilterClass parentClass;
};

enum { kPropFlip = 1, kPropFollower };

GstStaticPadTemplate kSinkTemplate =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE(GST_VIDEO_FORMATS_ALL)));
GstStaticPadTemplate kSrcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE(GST_VIDEO_FORMATS_ALL)));

KeloYuvToBgr* AsElement(gpointer instance) {
    return static_cast<KeloYuvToBgr*>(instance);
}

// What the element does with frames of `info`; the matrix and siting it converts them with.
struct Plan {
    Mode mode = Mode::Passthrough;
    ChromaSiting siting = ChromaSiting::Centred;
    YuvToBgrCoefficients coefficients;
};

Plan PlanFor(const GstVideoInfo& info) {
    Plan plan;
    const GstVideoFormat format = GST_VIDEO_INFO_FORMAT(&info);
    if (format != GST_VIDEO_FORMAT_YUY2 && format != GST_VIDEO_FORMAT_I420)
        return plan;
    // Only what videoconvert (default settings) runs through the arithmetic copied here:
    // progressive frames, a known Y'CbCr matrix, a known range.
    if (GST_VIDEO_INFO_IS_INTERLACED(&info) || GST_VIDEO_INFO_VIEWS(&info) != 1)
        return plan;
    // YUY2 frames one row high: videoconvert's generic path gives the second frame of such a
    // stream from stale lines (seen, not chased), so there is nothing to be identical with.
    if (format == GST_VIDEO_FORMAT_YUY2 && GST_VIDEO_INFO_HEIGHT(&info) < 2)
        return plan;
    const GstVideoColorRange range = info.colorimetry.range;
    if (range != GST_VIDEO_COLOR_RANGE_0_255 && range != GST_VIDEO_COLOR_RANGE_16_235)
        return plan;
    gdouble kr = 0, kb = 0;
    if (info.colorimetry.matrix == GST_VIDEO_COLOR_MATRIX_RGB ||
        !gst_video_color_matrix_get_Kr_Kb(info.colorimetry.matrix, &kr, &kb))
        return plan;
    if (!YuvToBgrCoefficientsFor(
            kr, kb, range == GST_VIDEO_COLOR_RANGE_16_235 ? YuvRange::Limited : YuvRange::Full,
            &plan.coefficients))
        return plan;
    plan.siting = (info.chroma_site & GST_VIDEO_CHROMA_SITE_H_COSITED) ? ChromaSiting::Cosited
                                                                       : ChromaSiting::Centred;
    plan.mode = format == GST_VIDEO_FORMAT_YUY2 ? Mode::Yuy2 : Mode::I420;
    return plan;
}

bool IsFixed(const GstStructure* structure) {
    return gst_structure_foreach(
        structure, [](GQuark, const GValue* value, gpointer) { return gst_value_is_fixed(value); },
        nullptr);
}

Plan PlanForStructure(const GstStructure* structure) {
    if (!IsFixed(structure))
        return Plan{};
    CapsPtr single(gst_caps_new_full(gst_structure_copy(structure), nullptr));
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, single.get()))
        return Plan{};
    return PlanFor(info);
}

// The BGR caps videoconvert fixates for this YUV input when asked for BGR: the input's fields
// with the format changed, no chroma siting, and, where the input named its colorimetry, the
// RGB default range and matrix with the input's transfer and primaries.
GstStructure* BgrStructureFor(const GstStructure* input) {
    // In videoconvert's field order too: the three fields taken out, then set again.
    GstStructure* output = gst_structure_copy(input);
    gst_structure_remove_fields(output, "format", "colorimetry", "chroma-site", nullptr);
    gst_structure_set(output, "format", G_TYPE_STRING, "BGR", nullptr);
    if (gst_structure_has_field(input, "colorimetry")) {
        CapsPtr single(gst_caps_new_full(gst_structure_copy(input), nullptr));
        GstVideoInfo info;
        gst_video_info_from_caps(&info, single.get());
        GstVideoColorimetry rgb{};
        rgb.range = GST_VIDEO_COLOR_RANGE_0_255;
        rgb.matrix = GST_VIDEO_COLOR_MATRIX_RGB;
        rgb.transfer = info.colorimetry.transfer;
        rgb.primaries = info.colorimetry.primaries;
        std::unique_ptr<gchar, GFree> text(gst_video_colorimetry_to_string(&rgb));
        if (text)
            gst_structure_set(output, "colorimetry", G_TYPE_STRING, text.get(), nullptr);
        else
            gst_structure_remove_field(output, "colorimetry");
    }
    return output;
}

bool AdmitsFormat(const GstStructure* structure, const char* format) {
    const GValue* formats = gst_structure_get_value(structure, "format");
    if (!formats)
        return true;
    GValue wanted = G_VALUE_INIT;
    g_value_init(&wanted, G_TYPE_STRING);
    g_value_set_static_string(&wanted, format);
    const bool admits = gst_value_can_intersect(formats, &wanted);
    g_value_unset(&wanted);
    return admits;
}

// Downstream (src) from upstream caps: a convertible fixed input gives only its BGR caps (so
// that negotiation cannot pick the passthrough instead); anything else passes through, and
// open caps may also become BGR. Upstream (sink) from downstream caps: the same caps, plus
// YUY2 and I420 wherever BGR is taken.
GstCaps* TransformCaps(GstBaseTransform*, GstPadDirection direction, GstCaps* caps,
                       GstCaps* filter) {
    GstCaps* result = gst_caps_new_empty();
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        const GstStructure* structure = gst_caps_get_structure(caps, i);
        GstCapsFeatures* features = gst_caps_get_features(caps, i);
        const auto append = [&](GstStructure* made) {
            result = gst_caps_merge_structure_full(
                result, made, features ? gst_caps_features_copy(features) : nullptr);
        };
        if (direction == GST_PAD_SINK) {
            if (PlanForStructure(structure).mode != Mode::Passthrough) {
                append(BgrStructureFor(structure));
                continue;
            }
            append(gst_structure_copy(structure));
            if (!IsFixed(structure)) {
                GstStructure* bgr = gst_structure_copy(structure);
                gst_structure_set(bgr, "format", G_TYPE_STRING, "BGR", nullptr);
                gst_structure_remove_fields(bgr, "colorimetry", "chroma-site", nullptr);
                append(bgr);
            }
        } else {
            append(gst_structure_copy(structure));
            if (AdmitsFormat(structure, "BGR")) {
                GstStructure* yuv = gst_structure_copy(structure);
                gst_structure_remove_fields(yuv, "format", "colorimetry", "chroma-site", nullptr);
                GValue list = G_VALUE_INIT, item = G_VALUE_INIT;
                gst_value_list_init(&list, 2);
                g_value_init(&item, G_TYPE_STRING);
                for (const char* name : {"YUY2", "I420"}) {
                    g_value_set_static_string(&item, name);
                    gst_value_list_append_value(&list, &item);
                }
                gst_structure_take_value(yuv, "format", &list);
                g_value_unset(&item);
                append(yuv);
            }
        }
    }
    if (filter) {
        GstCaps* filtered = gst_caps_intersect_full(filter, result, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(result);
        result = filtered;
    }
    return result;
}

// Owner thread (a property set) or streaming thread (set_info). `followerOrder` makes the last
// of two such calls also set the follower last. Our object lock is not held across the set: the
// follower's property notification takes the locks of its parents (the bin's, for deep-notify),
// while a state change of the bin holds the bin's lock and takes each child's, ours included.
void UpdateFollower(KeloYuvToBgr* self) {
    g_mutex_lock(&self->followerOrder);
    GST_OBJECT_LOCK(self);
    GstElement* follower = self->follower;
    const gboolean flip = (self->flip && self->mode == Mode::Passthrough) ? TRUE : FALSE;
    GST_OBJECT_UNLOCK(self);
    if (follower)
        g_object_set(follower, "flip", flip, nullptr);
    g_mutex_unlock(&self->followerOrder);
}

gboolean SetInfo(GstVideoFilter* filter, GstCaps*, GstVideoInfo* in, GstCaps*, GstVideoInfo* out) {
    KeloYuvToBgr* self = AsElement(filter);
    Plan plan;
    if (GST_VIDEO_INFO_FORMAT(in) != GST_VIDEO_INFO_FORMAT(out)) {
        plan = PlanFor(*in);
        if (plan.mode == Mode::Passthrough || GST_VIDEO_INFO_FORMAT(out) != GST_VIDEO_FORMAT_BGR ||
            in->width != out->width || in->height != out->height)
            return FALSE;
    }
    GST_OBJECT_LOCK(self);
    self->mode = plan.mode;
    self->siting = plan.siting;
    self->coefficients = plan.coefficients;
    GST_OBJECT_UNLOCK(self);
    gst_base_transform_set_passthrough(GST_BASE_TRANSFORM(filter), plan.mode == Mode::Passthrough);
    UpdateFollower(self);
    return TRUE;
}

// Streaming thread: every row converted straight into its place, top-down or turned over.
GstFlowReturn TransformFrame(GstVideoFilter* filter, GstVideoFrame* in, GstVideoFrame* out) {
    KeloYuvToBgr* self = AsElement(filter);
    GST_OBJECT_LOCK(self);
    const bool flip = self->flip;
    GST_OBJECT_UNLOCK(self);
    const int width = GST_VIDEO_FRAME_WIDTH(in);
    const int height = GST_VIDEO_FRAME_HEIGHT(in);
    const auto row = [in](int plane, int y) {
        return static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(in, plane)) +
               static_cast<std::ptrdiff_t>(y) * GST_VIDEO_FRAME_PLANE_STRIDE(in, plane);
    };
    auto* target = static_cast<std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(out, 0));
    const int outStride = GST_VIDEO_FRAME_PLANE_STRIDE(out, 0);
    [[maybe_unused]] UncheckedFrameAccess unchecked; // see its header: pool memory
    for (int y = 0; y < height; ++y) {
        std::uint8_t* bgr =
            target + static_cast<std::ptrdiff_t>(flip ? height - 1 - y : y) * outStride;
        if (self->mode == Mode::Yuy2)
            Yuy2RowToBgr(row(0, y), width, self->siting, self->coefficients, bgr);
        else
            I420RowToBgr(row(0, y), row(1, y / 2), row(2, y / 2), width, self->coefficients, bgr);
    }
    return GST_FLOW_OK;
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* paramSpec) {
    KeloYuvToBgr* self = AsElement(object);
    if (id == kPropFlip) {
        GST_OBJECT_LOCK(object);
        self->flip = g_value_get_boolean(value);
        GST_OBJECT_UNLOCK(object);
    } else if (id == kPropFollower) {
        GST_OBJECT_LOCK(object);
        self->follower = static_cast<GstElement*>(g_value_get_pointer(value));
        GST_OBJECT_UNLOCK(object);
    } else {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, paramSpec);
        return;
    }
    UpdateFollower(self);
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* paramSpec) {
    if (id != kPropFlip) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, paramSpec);
        return;
    }
    GST_OBJECT_LOCK(object);
    g_value_set_boolean(value, AsElement(object)->flip);
    GST_OBJECT_UNLOCK(object);
}

GObjectClass* parentClass = nullptr;

void Finalize(GObject* object) {
    g_mutex_clear(&AsElement(object)->followerOrder);
    parentClass->finalize(object);
}

void ClassInit(gpointer klass, gpointer) {
    parentClass = static_cast<GObjectClass*>(g_type_class_peek_parent(klass));
    GObjectClass* object = G_OBJECT_CLASS(klass);
    object->finalize = Finalize;
    object->set_property = SetProperty;
    object->get_property = GetProperty;
    g_object_class_install_property(
        object, kPropFlip,
        g_param_spec_boolean("flip", "Flip", "Write the rows bottom-up", FALSE,
                             GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    g_object_class_install_property(
        object, kPropFollower,
        g_param_spec_pointer("follower", "Follower",
                             "The row flip element behind (borrowed; it flips what this one "
                             "passes through)",
                             GParamFlags(G_PARAM_WRITABLE | G_PARAM_STATIC_STRINGS)));
    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    gst_element_class_set_static_metadata(element, "YUV to BGR", "Filter/Converter/Video",
                                          "Converts YUY2 and I420 camera frames into BGR rows",
                                          "Kelo Studio");
    gst_element_class_add_static_pad_template(element, &kSinkTemplate);
    gst_element_class_add_static_pad_template(element, &kSrcTemplate);
    GST_BASE_TRANSFORM_CLASS(klass)->transform_caps = TransformCaps;
    GST_BASE_TRANSFORM_CLASS(klass)->passthrough_on_same_caps = TRUE;
    GST_VIDEO_FILTER_CLASS(klass)->set_info = SetInfo;
    GST_VIDEO_FILTER_CLASS(klass)->transform_frame = TransformFrame;
}

void InstanceInit(GTypeInstance* instance, gpointer) {
    KeloYuvToBgr* self = AsElement(instance);
    self->flip = FALSE;
    self->follower = nullptr;
    g_mutex_init(&self->followerOrder);
    self->mode = Mode::Passthrough;
    self->siting = ChromaSiting::Centred;
    self->coefficients = YuvToBgrCoefficients{};
}

} // namespace

bool YuvToBgrTakesCaps(const GstCaps* caps) {
    return caps && gst_caps_get_size(caps) == 1 &&
           PlanForStructure(gst_caps_get_structure(caps, 0)).mode != Mode::Passthrough;
}

void RegisterYuvToBgrElement() {
    GTypeInfo info{};
    info.class_size = sizeof(KeloYuvToBgrClass);
    info.class_init = ClassInit;
    info.instance_size = sizeof(KeloYuvToBgr);
    info.instance_init = InstanceInit;
    const GType type =
        g_type_register_static(GST_TYPE_VIDEO_FILTER, "KeloYuvToBgr", &info, GTypeFlags(0));
    gst_element_register(nullptr, kYuvToBgrFactory, GST_RANK_NONE, type);
}

} // namespace kelo
