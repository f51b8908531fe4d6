#include "platform/SharedMemoryView.h"

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

SharedMemoryView::~SharedMemoryView() { Close(); }

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

HRESULT SharedMemoryView::OpenExisting(const std::string& name) {
    Close();
    fd_ = shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd_ < 0)
        return E_FAIL;
    return MapWhole();
}

HRESULT SharedMemoryView::OpenOrCreate(const std::string& name, std::size_t minBytes) {
    Close();
    fd_ = shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0)
        return E_FAIL;
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
