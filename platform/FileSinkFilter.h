// The file-name interface of the filters that write a file (the File Writer and the ASF writer).
#pragma once

#include "platform/Handles.h"
#include "platform/HResult.h"

#include <string>

namespace kelo {

class IFileSinkFilter {
public:
    virtual ~IFileSinkFilter() = default;
    // Sets the file to write. Only while the graph is stopped; E_UNEXPECTED otherwise, E_INVALIDARG
    // for an empty name. The file is created (or overwritten) when the graph starts.
    virtual HRESULT SetFileName(const std::string& path) = 0;
    virtual std::string GetCurFile() const = 0;
    // The pad where end-of-stream arrives once everything before it has been written: the file
    // is complete (headers, index, durations) when end-of-stream has passed it.
    virtual PadPtr FileSinkPad() const = 0;
};

} // namespace kelo
