// The capture graph builder: helps build capture graphs on a filter graph. It finds a capture
// filter's stream configuration, adds the AVI Mux and File Writer for an output file, and
// connects a source's stream to a sink through an optional compressor.
#pragma once

#include "platform/graph/ClassRegistry.h"
#include "platform/graph/GraphInterfaces.h"

#include <memory>

namespace kelo {

class CaptureGraphBuilder2 : public ComObject, public ICaptureGraphBuilder2 {
public:
    // The registry makes the multiplexer and file writer; it must outlive the builder.
    explicit CaptureGraphBuilder2(const ClassRegistry* registry) : registry_(registry) {}

    [[nodiscard]] HRESULT SetFiltergraph(const std::shared_ptr<IGraphBuilder>& graph) override;
    [[nodiscard]] HRESULT GetFiltergraph(std::shared_ptr<IGraphBuilder>* graph) const override;
    [[nodiscard]] HRESULT FindInterface(std::string_view category, std::string_view type, const FilterPtr& filter,
                          std::shared_ptr<IAMStreamConfig>* config) override;
    [[nodiscard]] HRESULT SetOutputFileName(std::string_view subtype, std::string_view file, FilterPtr* mux,
                              std::shared_ptr<IFileSinkFilter>* sink) override;
    [[nodiscard]] HRESULT RenderStream(std::string_view category, std::string_view type, const FilterPtr& source,
                         const FilterPtr& compressor, const FilterPtr& sink) override;

private:
    const ClassRegistry* registry_;
    std::weak_ptr<IGraphBuilder> graph_; // the graph owns its builder's targets, not the reverse
};

} // namespace kelo
