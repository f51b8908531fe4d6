// The filters of the recording side: the Smart Tee (a tee whose outputs are request pins, each
// followed by its own queue so that a branch waiting on a muxer never stalls the preview), the
// AVI Mux (avimux: an input pin per stream, made on request) and the File Writer (filesink).
#pragma once

#include "platform/graph/BaseFilter.h"
#include "platform/graph/GraphInterfaces.h"

#include <memory>
#include <string>

namespace kelo {

// A filter whose every output the graph decouples with a queue when it is connected.
class IBranchingFilter {
public:
    virtual ~IBranchingFilter() = default;
};

class SmartTee : public BaseFilter, public IBranchingFilter, public RowOrderPassThrough {
public:
    static std::shared_ptr<SmartTee> Create();

private:
    using BaseFilter::BaseFilter;
};

class AviMux : public BaseFilter {
public:
    static std::shared_ptr<AviMux> Create();

private:
    using BaseFilter::BaseFilter;
};

class FileWriter : public BaseFilter, public IFileSinkFilter {
public:
    static std::shared_ptr<FileWriter> Create();

    [[nodiscard]] HRESULT SetFileName(std::string_view path, const MediaType* type) override;
    [[nodiscard]] HRESULT GetCurFile(std::string* path) const override;

private:
    using BaseFilter::BaseFilter;
    std::string path_;
};

} // namespace kelo
