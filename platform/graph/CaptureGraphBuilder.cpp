#include "platform/graph/CaptureGraphBuilder.h"

#include "platform/graph/ClassIds.h"
#include "platform/graph/MediaType.h"
#include "platform/graph/Pin.h"

namespace kelo {

HRESULT CaptureGraphBuilder2::SetFiltergraph(const std::shared_ptr<IGraphBuilder>& graph) {
    if (!graph)
        return E_POINTER;
    if (graph_.lock())
        return E_UNEXPECTED;
    graph_ = graph;
    return S_OK;
}

HRESULT CaptureGraphBuilder2::GetFiltergraph(std::shared_ptr<IGraphBuilder>* graph) const {
    if (!graph)
        return E_POINTER;
    *graph = graph_.lock();
    return *graph ? S_OK : E_UNEXPECTED;
}

HRESULT CaptureGraphBuilder2::FindInterface(std::string_view, std::string_view type,
                                            const FilterPtr& filter,
                                            std::shared_ptr<IAMStreamConfig>* config) {
    if (!config)
        return E_POINTER;
    config->reset();
    if (!filter)
        return E_POINTER;
    // A capture device configures its own output; a compressor its output pin.
    std::shared_ptr<IAMStreamConfig> found = std::dynamic_pointer_cast<IAMStreamConfig>(filter);
    if (!found) {
        PinPtr pin;
        if (SUCCEEDED(FindPin(filter, PinDirection::Output, false, &pin)))
            found = QueryPinInterface<IAMStreamConfig>(pin);
    }
    if (!found)
        return E_NOINTERFACE;
    MediaType current;
    if (!type.empty() && SUCCEEDED(found->GetFormat(&current)) && !SameId(current.majorType, type))
        return E_NOINTERFACE;
    *config = std::move(found);
    return S_OK;
}

HRESULT CaptureGraphBuilder2::SetOutputFileName(std::string_view subtype, std::string_view file,
                                                FilterPtr* mux,
                                                std::shared_ptr<IFileSinkFilter>* sink) {
    if (mux)
        mux->reset();
    if (sink)
        sink->reset();
    std::shared_ptr<IGraphBuilder> graph = graph_.lock();
    if (!graph || !registry_)
        return E_UNEXPECTED;
    if (!SameId(subtype, MEDIASUBTYPE_Avi))
        return E_INVALIDARG; // the only container this program writes through the builder
    if (file.empty())
        return E_INVALIDARG;

    std::shared_ptr<BaseFilter> muxer;
    std::shared_ptr<BaseFilter> writer;
    if (FAILED(registry_->CreateInstance(CLSID_AviDest, &muxer)) ||
        FAILED(registry_->CreateInstance(CLSID_FileWriter, &writer)))
        return E_FAIL;
    auto fileSink = std::dynamic_pointer_cast<IFileSinkFilter>(writer);
    if (!fileSink)
        return E_NOINTERFACE;
    HRESULT hr = fileSink->SetFileName(file, nullptr);
    if (FAILED(hr))
        return hr;
    if (FAILED(hr = graph->AddFilter(muxer, "AVI Mux")))
        return hr;
    if (FAILED(hr = graph->AddFilter(writer, "File writer")))
        return hr;
    PinPtr out;
    PinPtr in;
    if (FAILED(FindPin(muxer, PinDirection::Output, true, &out)) ||
        FAILED(FindPin(writer, PinDirection::Input, true, &in)))
        return E_FAIL;
    if (FAILED(hr = graph->ConnectDirect(out, in, nullptr)))
        return hr;
    if (mux)
        *mux = muxer;
    if (sink)
        *sink = fileSink;
    return S_OK;
}

HRESULT CaptureGraphBuilder2::RenderStream(std::string_view, std::string_view type,
                                           const FilterPtr& source, const FilterPtr& compressor,
                                           const FilterPtr& sink) {
    std::shared_ptr<IGraphBuilder> graph = graph_.lock();
    if (!graph)
        return E_UNEXPECTED;
    if (!source || !sink)
        return E_POINTER;
    // The source's first free output whose stream is of the type asked for.
    std::vector<PinPtr> pins;
    HRESULT hr = EnumPins(source, &pins);
    if (FAILED(hr))
        return hr;
    PinPtr out;
    MediaType anyOfType;
    anyOfType.majorType = std::string(type);
    CapsPtr wanted = type.empty() ? nullptr : CapsFromMediaType(anyOfType);
    for (const PinPtr& pin : pins) {
        if (pin->QueryDirection() != PinDirection::Output || pin->IsConnected())
            continue;
        CapsPtr caps = pin->QueryCaps();
        if (wanted && caps && !gst_caps_can_intersect(caps.get(), wanted.get()))
            continue;
        out = pin;
        break;
    }
    if (!out)
        return VFW_E_NOT_FOUND;

    if (compressor) {
        PinPtr compIn;
        PinPtr compOut;
        if (FAILED(FindPin(compressor, PinDirection::Input, true, &compIn)) ||
            FAILED(FindPin(compressor, PinDirection::Output, true, &compOut)))
            return VFW_E_NOT_FOUND;
        if (FAILED(hr = graph->Connect(out, compIn)))
            return hr;
        out = compOut;
    }
    PinPtr in;
    if (FAILED(FindPin(sink, PinDirection::Input, true, &in)))
        return VFW_E_NOT_FOUND;
    return graph->Connect(out, in);
}

} // namespace kelo
