// A whole-object mapping of a POSIX shared-memory object, writable. The studio only opens
// objects that exist (the virtual camera creates them); the bridge may create one.
#pragma once

#include "platform/system/HResult.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>

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
    // E_FAIL when it does not exist or cannot be opened; S_FALSE (nothing kept open) when it is
    // smaller than minBytes, as an object still being created by another program is;
    // E_OUTOFMEMORY when it opened but could not be mapped (the descriptor is then kept open,
    // see isOpen()); E_ACCESSDENIED (nothing kept open) when it is not a private object of
    // this user (see IsPrivateObject).
    [[nodiscard]] HRESULT OpenExisting(const std::string& name, std::size_t minBytes = 0);

    // Creates the object when missing (zero-filled, mode 0600), grows it to minBytes when
    // smaller, and maps it. An existing object's contents are kept. E_ACCESSDENIED (nothing
    // kept open) when an existing object is not a private object of this user.
    [[nodiscard]] HRESULT OpenOrCreate(const std::string& name, std::size_t minBytes);

    // Grows the object to minBytes when it is smaller (never shrinks it: another program's
    // mapping would fault) and maps all of it again; with minBytes 0, only follows a size
    // another program gave it. The view is closed when that fails. A lost() view shows the
    // object again afterwards.
    [[nodiscard]] HRESULT Grow(std::size_t minBytes);

    void Close();

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; } // borrowed; for fstat and the like
    bool isMapped() const { return data_ != nullptr; }
    std::uint8_t* data() const { return data_; }
    bool lost() const { return lost_; } // a guarded access found the object shrunk
    std::size_t size() const { return size_; }

    // Runs `access` (a copy into or out of data(), or any reads and writes of it) as one step
    // that survives the object being made smaller under it by another process: touching a page
    // past the object's new end raises SIGBUS, which here puts private zero pages in place of
    // the whole mapping so that the access runs to its end harmlessly. Returns false when that
    // happened: what was read is worthless, what was written went nowhere, and the view must
    // be closed and opened again (it no longer shows the object: every later Guarded returns
    // false at once, and lost() says so). A size check before the access cannot do this: the
    // object may shrink between the check and the copy.
    template <typename Access> [[nodiscard]] bool Guarded(Access&& access) const {
        return RunGuarded([](void* f) { (*static_cast<std::remove_reference_t<Access>*>(f))(); },
                          const_cast<void*>(static_cast<const void*>(&access)));
    }

    // The block carries the user's camera picture: it must belong to this user, and nobody
    // else may read or write it (no group or other permission bits). An object planted by
    // another local user could otherwise be watched or fed from outside.
    static bool IsPrivateObject(int fd);
    // The one-line text refusing such an object, naming it.
    static std::string RefusalText(const std::string& name);

    // Identity of the object now under the name (device and inode), to tell whether the name
    // still leads to the object held here. False when there is no object under the name.
    static bool IdentifyNamed(const std::string& name, std::uint64_t* device, std::uint64_t* inode);
    // Whether the open object is still the one under the name.
    bool StillNamed(const std::string& name) const;

private:
    [[nodiscard]] bool RunGuarded(void (*access)(void*), void* context) const;

    // shm_open with O_RDWR and `flags` (O_CREAT: made 0600 when missing), kept only when the
    // object is private to this user: S_OK, E_FAIL, or E_ACCESSDENIED (closed again).
    [[nodiscard]] HRESULT OpenPrivate(const std::string& name, int flags);
    [[nodiscard]] HRESULT MapWhole();

    int fd_ = -1;
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    mutable bool lost_ = false; // the mapping holds private zero pages, not the object
};

// Copies into a block that other processes read, with stores that bypass the cache: a frame's
// bytes are read by another process a while later, and ordinary stores would first fetch every
// line of the block from memory (a 320 x 240 frame's copy took twice as long). Such stores may
// become visible out of order with the stores around them: StoreFence() after the copy (and
// before it, where an earlier store must be seen first) puts them in line.
void StreamingCopy(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes);
void StoreFence();

} // namespace kelo
