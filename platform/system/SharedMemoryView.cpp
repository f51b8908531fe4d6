#include "platform/system/SharedMemoryView.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace kelo {

SharedMemoryView::SharedMemoryView(SharedMemoryView&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)) {}

SharedMemoryView& SharedMemoryView::operator=(SharedMemoryView&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

SharedMemoryView::~SharedMemoryView() {
    Close();
}

HRESULT SharedMemoryView::MapWhole() {
    struct stat st {};
    if (fstat(fd_, &st) != 0 || st.st_size <= 0)
        return E_OUTOFMEMORY;
    void* p = mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ | PROT_WRITE,
                   MAP_SHARED, fd_, 0);
    if (p == MAP_FAILED)
        return E_OUTOFMEMORY;
    data_ = static_cast<std::uint8_t*>(p);
    size_ = static_cast<std::size_t>(st.st_size);
    return S_OK;
}

bool SharedMemoryView::IsPrivateObject(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

std::string SharedMemoryView::RefusalText(const std::string& name) {
    return "the shared memory block " + name +
           " belongs to another user or others may read or write it; it is not used (remove "
           "it: rm /dev/shm" +
           name + ")";
}

bool SharedMemoryView::IdentifyNamed(const std::string& name, std::uint64_t* device,
                                     std::uint64_t* inode) {
    const int fd = shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0)
        return false;
    struct stat st {};
    const bool known = fstat(fd, &st) == 0;
    ::close(fd);
    if (known) {
        *device = static_cast<std::uint64_t>(st.st_dev);
        *inode = static_cast<std::uint64_t>(st.st_ino);
    }
    return known;
}

bool SharedMemoryView::StillNamed(const std::string& name) const {
    struct stat ours {};
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    return fd_ >= 0 && fstat(fd_, &ours) == 0 && IdentifyNamed(name, &device, &inode) &&
           device == static_cast<std::uint64_t>(ours.st_dev) &&
           inode == static_cast<std::uint64_t>(ours.st_ino);
}

HRESULT SharedMemoryView::OpenPrivate(const std::string& name, int flags) {
    Close();
    fd_ = shm_open(name.c_str(), O_RDWR | O_CLOEXEC | flags, 0600);
    if (fd_ < 0)
        return E_FAIL;
    if (!IsPrivateObject(fd_)) {
        Close();
        return E_ACCESSDENIED;
    }
    return S_OK;
}

HRESULT SharedMemoryView::OpenExisting(const std::string& name, std::size_t minBytes) {
    if (const HRESULT hr = OpenPrivate(name, 0); hr != S_OK)
        return hr;
    struct stat st {};
    if (minBytes > 0 && (fstat(fd_, &st) != 0 || static_cast<std::size_t>(st.st_size) < minBytes)) {
        Close();
        return S_FALSE;
    }
    return MapWhole();
}

HRESULT SharedMemoryView::OpenOrCreate(const std::string& name, std::size_t minBytes) {
    if (const HRESULT hr = OpenPrivate(name, O_CREAT); hr != S_OK)
        return hr;
    struct stat st {};
    if (fstat(fd_, &st) != 0) {
        Close();
        return E_FAIL;
    }
    // ftruncate zero-fills what it adds and keeps what is there.
    if (static_cast<std::size_t>(st.st_size) < minBytes &&
        ftruncate(fd_, static_cast<off_t>(minBytes)) != 0) {
        Close();
        return E_FAIL;
    }
    HRESULT hr = MapWhole();
    if (FAILED(hr))
        Close();
    return hr;
}

HRESULT SharedMemoryView::Grow(std::size_t minBytes) {
    if (fd_ < 0)
        return E_FAIL;
    struct stat st {};
    if (fstat(fd_, &st) != 0 ||
        (static_cast<std::size_t>(st.st_size) < minBytes &&
         ftruncate(fd_, static_cast<off_t>(minBytes)) != 0)) {
        Close();
        return E_FAIL;
    }
    if (data_)
        munmap(data_, size_);
    data_ = nullptr;
    size_ = 0;
    const HRESULT hr = MapWhole();
    if (FAILED(hr))
        Close();
    return hr;
}

void SharedMemoryView::Close() {
    if (data_)
        munmap(data_, size_);
    data_ = nullptr;
    size_ = 0;
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

} // namespace kelo
