// The File Writer: one input pin, writes every byte it receives to a file (filesink). The AVI Mux
// feeds it; the muxer seeks back over it to rewrite its headers at the end.
#pragma once

#include "platform/BaseFilter.h"
#include "platform/FileSinkFilter.h"

#include <memory>
#include <string>

namespace kelo {

class FileWriterFilter : public BaseFilter, public IFileSinkFilter {
public:
    // Null when the file sink element is missing (GStreamer's core elements not installed).
    static std::shared_ptr<FileWriterFilter> Create();

    HRESULT SetFileName(const std::string& path) override;
    std::string GetCurFile() const override { return fileName_; }
    PadPtr FileSinkPad() const override;

private:
    explicit FileWriterFilter(ElementPtr element) : BaseFilter(std::move(element)) {}
    std::string fileName_;
};

// True while `element` is in the NULL or READY state (a file name may still change).
bool IsStopped(GstElement* element);

} // namespace kelo
