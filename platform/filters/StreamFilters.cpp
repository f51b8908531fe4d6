#include "platform/filters/StreamFilters.h"

#include "platform/graph/ElementFactory.h"

namespace kelo {

std::shared_ptr<SmartTee> SmartTee::Create() {
    ElementPtr tee = MakeElement("tee");
    if (!tee)
        return nullptr;
    // A branch that is not linked yet (or any more) must not stop the others.
    g_object_set(tee.get(), "allow-not-linked", TRUE, nullptr);
    return std::shared_ptr<SmartTee>(new SmartTee(std::move(tee)));
}

std::shared_ptr<AviMux> AviMux::Create() {
    ElementPtr mux = MakeElement("avimux");
    return mux ? std::shared_ptr<AviMux>(new AviMux(std::move(mux))) : nullptr;
}

std::shared_ptr<FileWriter> FileWriter::Create() {
    ElementPtr sink = MakeElement("filesink");
    if (!sink)
        return nullptr;
    // Written by the muxer's pace, not the clock's; every buffer goes to the kernel as it comes
    // (buffer-mode "unbuffered"), so a crash of the studio loses nothing that was muxed.
    g_object_set(sink.get(), "sync", FALSE, "async", FALSE, "buffer-mode", 2, nullptr);
    return std::shared_ptr<FileWriter>(new FileWriter(std::move(sink)));
}

HRESULT FileWriter::SetFileName(std::string_view path, const MediaType*) {
    if (path.empty())
        return E_INVALIDARG;
    path_ = std::string(path);
    g_object_set(element(), "location", path_.c_str(), nullptr);
    return S_OK;
}

HRESULT FileWriter::GetCurFile(std::string* path) const {
    if (!path)
        return E_POINTER;
    *path = path_;
    return path_.empty() ? E_FAIL : S_OK;
}

} // namespace kelo
