#include "effects/filters/EffectElement.h"

#include "effects/filters/BackgroundBlurFilter.h"
#include "effects/filters/BmpOverlayFilter.h"
#include "effects/filters/OverlayFilter.h"
#include "effects/filters/ProxyTransFilter.h"
#include "platform/system/GstRuntime.h"

#include <gst/video/gstvideofilter.h>
#include <gst/video/video.h>
#include <mutex>

GST_DEBUG_CATEGORY(kelo_effects_debug);
#define GST_CAT_DEFAULT kelo_effects_debug

namespace kelo {

namespace {

// Instance and class structures of the common (abstract) parent type of the three elements.
struct KeloEffectElement {
    GstVideoFilter parent;
    EffectProcessor* processor; // owned; deleted in Finalize
};

struct KeloEffectElementClass {
    GstVideoFilterClass parentClass;
    const EffectElementKind* kind; // set by each concrete type's class_init
};

GstStaticPadTemplate kSinkTemplate = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("BGR")));
GstStaticPadTemplate kSrcTemplate = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("BGR")));

GObjectClass* parentClass = nullptr;
GType effectElementType = 0;

KeloEffectElement* AsEffect(gpointer instance) {
    return static_cast<KeloEffectElement*>(instance);
}

// Streaming thread.
GstFlowReturn TransformFrameIp(GstVideoFilter* filter, GstVideoFrame* frame) {
    EffectProcessor* processor = AsEffect(filter)->processor;
    if (processor) {
        processor->ProcessFrame(static_cast<std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(frame, 0)),
                                GST_VIDEO_FRAME_WIDTH(frame), GST_VIDEO_FRAME_HEIGHT(frame),
                                GST_VIDEO_FRAME_PLANE_STRIDE(frame, 0));
    }
    return GST_FLOW_OK;
}

// Streaming thread, once per frame, also in passthrough: a switchable element leaves or enters
// passthrough here, before the buffer is prepared for this frame.
void BeforeTransform(GstBaseTransform* trans, GstBuffer*) {
    KeloEffectElement* self = AsEffect(trans);
    const auto* klass = reinterpret_cast<KeloEffectElementClass*>(G_OBJECT_GET_CLASS(trans));
    if (!klass->kind || !klass->kind->switchable)
        return;
    const bool wanted = self->processor && self->processor->WantsFrames();
    if (gst_base_transform_is_passthrough(trans) == wanted)
        gst_base_transform_set_passthrough(trans, !wanted);
}

// Streaming or application thread, during negotiation: the caps a peer offered that this
// element cannot take (anything but BGR) are named, so a failed link says why.
gboolean AcceptCaps(GstBaseTransform* trans, GstPadDirection direction, GstCaps* caps) {
    auto* parent = reinterpret_cast<GstBaseTransformClass*>(parentClass);
    const gboolean accepted = parent->accept_caps(trans, direction, caps);
    if (!accepted)
        GST_INFO_OBJECT(trans, "caps not accepted on the %s side: %" GST_PTR_FORMAT,
                        direction == GST_PAD_SINK ? "input" : "output",
                        static_cast<gpointer>(caps));
    return accepted;
}

gboolean SetInfo(GstVideoFilter* filter, GstCaps* incaps, GstVideoInfo*, GstCaps*, GstVideoInfo*) {
    GST_DEBUG_OBJECT(filter, "negotiated %" GST_PTR_FORMAT, static_cast<gpointer>(incaps));
    return TRUE;
}

void Finalize(GObject* object) {
    KeloEffectElement* self = AsEffect(object);
    delete self->processor;
    self->processor = nullptr;
    parentClass->finalize(object);
}

void BaseClassInit(gpointer klass, gpointer) {
    parentClass = static_cast<GObjectClass*>(g_type_class_peek_parent(klass));
    G_OBJECT_CLASS(klass)->finalize = Finalize;
    GST_VIDEO_FILTER_CLASS(klass)->transform_frame_ip = TransformFrameIp;
    GST_BASE_TRANSFORM_CLASS(klass)->passthrough_on_same_caps = FALSE;
    GST_BASE_TRANSFORM_CLASS(klass)->before_transform = BeforeTransform;
    GST_BASE_TRANSFORM_CLASS(klass)->accept_caps = AcceptCaps;
    GST_VIDEO_FILTER_CLASS(klass)->set_info = SetInfo;
}

void InstanceInit(GTypeInstance* instance, gpointer klass) {
    KeloEffectElement* self = AsEffect(instance);
    const EffectElementKind* kind = static_cast<KeloEffectElementClass*>(klass)->kind;
    self->processor = (kind && kind->createProcessor) ? kind->createProcessor() : nullptr;
    GstBaseTransform* trans = GST_BASE_TRANSFORM(instance);
    gst_base_transform_set_in_place(trans, TRUE);
    gst_base_transform_set_passthrough(trans, kind && (kind->passthrough || kind->switchable));
}

void ConcreteClassInit(gpointer klass, gpointer classData) {
    const auto* kind = static_cast<const EffectElementKind*>(classData);
    static_cast<KeloEffectElementClass*>(klass)->kind = kind;
    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    gst_element_class_set_static_metadata(element, kind->longName, "Filter/Effect/Video",
                                          kind->description, "Kelo Studio");
    gst_element_class_add_static_pad_template(element, &kSinkTemplate);
    gst_element_class_add_static_pad_template(element, &kSrcTemplate);
    if (kind->passthrough || kind->switchable)
        GST_BASE_TRANSFORM_CLASS(klass)->transform_ip_on_passthrough = FALSE;
}

GType RegisterBaseType() {
    GTypeInfo info{};
    info.class_size = sizeof(KeloEffectElementClass);
    info.class_init = BaseClassInit;
    info.instance_size = sizeof(KeloEffectElement);
    info.instance_init = InstanceInit;
    return g_type_register_static(GST_TYPE_VIDEO_FILTER, "KeloEffectElement", &info,
                                  G_TYPE_FLAG_ABSTRACT);
}

void RegisterConcreteType(GType base, const EffectElementKind& kind) {
    GTypeInfo info{};
    info.class_size = sizeof(KeloEffectElementClass);
    info.class_init = ConcreteClassInit;
    info.class_data = &kind;
    info.instance_size = sizeof(KeloEffectElement);
    GType type = g_type_register_static(base, kind.typeName, &info, GTypeFlags(0));
    gst_element_register(nullptr, kind.factoryName, GST_RANK_NONE, type);
}

} // namespace

void RegisterEffectElements() {
    static std::once_flag once;
    std::call_once(once, [] {
        EnsureGstInitialized();
        GST_DEBUG_CATEGORY_INIT(kelo_effects_debug, "kelo-effects", 0,
                                "Kelo effect elements: negotiation, refused pictures and settings");
        effectElementType = RegisterBaseType();
        RegisterConcreteType(effectElementType, OverlayFilterElementKind());
        RegisterConcreteType(effectElementType, ProxyTransFilterElementKind());
        RegisterConcreteType(effectElementType, BmpOverlayFilterElementKind());
        RegisterConcreteType(effectElementType, BackgroundBlurFilterElementKind());
    });
}

ElementPtr MakeEffectElement(const char* factoryName) {
    RegisterEffectElements();
    ElementPtr element = ElementPtr::RefSink(gst_element_factory_make(factoryName, nullptr));
    if (!element)
        GST_WARNING("cannot make the element %s", factoryName);
    return element;
}

EffectProcessor* EffectElementProcessor(GstElement* element) {
    RegisterEffectElements();
    if (!element || !G_TYPE_CHECK_INSTANCE_TYPE(element, effectElementType))
        return nullptr;
    return AsEffect(element)->processor;
}

} // namespace kelo
