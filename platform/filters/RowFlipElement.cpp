#include "platform/filters/RowFlipElement.h"

#include "platform/system/UncheckedFrameAccess.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <gst/video/gstvideofilter.h>
#include <gst/video/video.h>

namespace kelo {

namespace {

struct KeloRowFlip {
    GstVideoFilter parent;
    gboolean flip; // written under the object lock; read by the streaming thread
};

struct KeloRowFlipClass {
    GstVideoFilterClass parentClass;
};

enum { kPropFlip = 1 };

// Single-plane formats whose rows can be moved whole.
#define KELO_ROW_FLIP_CAPS                                                                         \
    GST_VIDEO_CAPS_MAKE("{ BGR, RGB, BGRx, BGRA, RGBx, RGBA, xRGB, ARGB, xBGR, ABGR, GRAY8 }")

GstStaticPadTemplate kSinkTemplate = GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                                                             GST_STATIC_CAPS(KELO_ROW_FLIP_CAPS));
GstStaticPadTemplate kSrcTemplate = GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS,
                                                            GST_STATIC_CAPS(KELO_ROW_FLIP_CAPS));

KeloRowFlip* AsRowFlip(gpointer instance) {
    return static_cast<KeloRowFlip*>(instance);
}

// Streaming thread: row y of the output is row height-1-y of the input.
GstFlowReturn TransformFrame(GstVideoFilter*, GstVideoFrame* in, GstVideoFrame* out) {
    const int height = GST_VIDEO_FRAME_HEIGHT(in);
    const std::size_t rowBytes = static_cast<std::size_t>(GST_VIDEO_FRAME_WIDTH(in)) *
                                 static_cast<std::size_t>(GST_VIDEO_FRAME_COMP_PSTRIDE(in, 0));
    const int inStride = GST_VIDEO_FRAME_PLANE_STRIDE(in, 0);
    const int outStride = GST_VIDEO_FRAME_PLANE_STRIDE(out, 0);
    const auto* source = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(in, 0));
    auto* target = static_cast<std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(out, 0));
    [[maybe_unused]] UncheckedFrameAccess unchecked; // see its header: pool memory
    for (int y = 0; y < height; ++y)
        std::memcpy(target + static_cast<std::ptrdiff_t>(y) * outStride,
                    source + static_cast<std::ptrdiff_t>(height - 1 - y) * inStride, rowBytes);
    return GST_FLOW_OK;
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* paramSpec) {
    if (id != kPropFlip) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, paramSpec);
        return;
    }
    const gboolean flip = g_value_get_boolean(value);
    GST_OBJECT_LOCK(object);
    AsRowFlip(object)->flip = flip;
    GST_OBJECT_UNLOCK(object);
    // Takes the lock itself; a change while running takes effect with the next frame.
    gst_base_transform_set_passthrough(GST_BASE_TRANSFORM(object), !flip);
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* paramSpec) {
    if (id != kPropFlip) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, paramSpec);
        return;
    }
    GST_OBJECT_LOCK(object);
    g_value_set_boolean(value, AsRowFlip(object)->flip);
    GST_OBJECT_UNLOCK(object);
}

void ClassInit(gpointer klass, gpointer) {
    GObjectClass* object = G_OBJECT_CLASS(klass);
    object->set_property = SetProperty;
    object->get_property = GetProperty;
    g_object_class_install_property(
        object, kPropFlip,
        g_param_spec_boolean("flip", "Flip", "Turn the rows upside down (false: passthrough)", TRUE,
                             GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    gst_element_class_set_static_metadata(element, "Row flip", "Filter/Converter/Video",
                                          "Turns packed frames upside down by whole rows",
                                          "Kelo Studio");
    gst_element_class_add_static_pad_template(element, &kSinkTemplate);
    gst_element_class_add_static_pad_template(element, &kSrcTemplate);
    GST_VIDEO_FILTER_CLASS(klass)->transform_frame = TransformFrame;
}

void InstanceInit(GTypeInstance* instance, gpointer) {
    AsRowFlip(instance)->flip = TRUE;
}

} // namespace

void RegisterRowFlipElement() {
    GTypeInfo info{};
    info.class_size = sizeof(KeloRowFlipClass);
    info.class_init = ClassInit;
    info.instance_size = sizeof(KeloRowFlip);
    info.instance_init = InstanceInit;
    const GType type =
        g_type_register_static(GST_TYPE_VIDEO_FILTER, "KeloRowFlip", &info, GTypeFlags(0));
    gst_element_register(nullptr, kRowFlipFactory, GST_RANK_NONE, type);
}

} // namespace kelo
