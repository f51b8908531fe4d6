// A whole-object mapping of a POSIX shared-memory object, writable. The studio only opens
// objects that exist (the virtual camera creates them); the bridge may create one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/HResult.h"

namespace kelo {

class SharedMemoryView {
public:
    SharedMemoryView() = default;
    SharedMemoryView(const SharedMemoryView&) = delete;
    SharedMemoryView& operator=(const SharedMemoryView&) = delete;
    SharedMemoryView(SharedMemoryView&& other) noexcept;
    SharedMemoryView& operator=(SharedMemoryView&& other) noexcept;
    ~SharedMemoryView();

    // Opens an existing object and maps all of it (its real size, whatever it is).
    // E_FAIL when it does not exist or cannot be opened; E_OUTOFMEMORY when it opened but could
    // not be mapped (the descriptor is then kept open, see isOpen()).
    HRESULT OpenExisting(const std::string& name);

    // Creates the object when missing (zero-filled), grows it to minBytes when smaller, and maps
    // it. An existing object's contents are kept.
    HRESULT OpenOrCreate(const std::string& name, std::size_t minBytes);

    void Close();

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; } // borrowed; for fstat and the like
    bool isMapped() const { return data_ != nullptr; }
    std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    HRESULT MapWhole();

    int fd_ = -1;
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace kelo
