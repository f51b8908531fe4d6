#include "platform/system/SharedMemoryView.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kelo {

namespace {

// The guarded access running on this thread, if any, and the one it runs inside (a guard
// within a guard, on another view).
struct GuardedRange {
    std::uint8_t* begin = nullptr;
    std::size_t size = 0;
    volatile sig_atomic_t faulted = 0;
    GuardedRange* outer = nullptr;
};

// Initial-exec TLS in the programs that link this: reading it in a signal handler allocates
// nothing.
thread_local GuardedRange* currentRange = nullptr;

struct sigaction previousBusAction {};

// SIGBUS inside a guarded range: the object under the mapping was made smaller and the access
// touched a page past its end. The whole mapping is replaced by private zero pages (mmap with
// MAP_FIXED is one system call, safe here); returning runs the faulting instruction again, now
// on those pages. A SIGBUS anywhere else is not ours: the handler that was there before is put
// back, and the instruction faults again into it (the default one ends the process as always).
void OnBusError(int, siginfo_t* info, void*) {
    const auto* address = static_cast<const std::uint8_t*>(info->si_addr);
    for (GuardedRange* range = currentRange; range; range = range->outer) {
        if (address >= range->begin && address < range->begin + range->size) {
            if (mmap(range->begin, range->size, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_FIXED | MAP_ANONYMOUS, -1, 0) != MAP_FAILED) {
                range->faulted = 1;
                return;
            }
            break;
        }
    }
    sigaction(SIGBUS, &previousBusAction, nullptr);
}

void InstallBusErrorHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_sigaction = &OnBusError;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        sigaction(SIGBUS, &action, &previousBusAction);
    });
}

} // namespace

bool SharedMemoryView::RunGuarded(void (*access)(void*), void* context) const {
    if (!data_ || lost_)
        return false;
    InstallBusErrorHandler();
    GuardedRange range;
    range.begin = data_;
    range.size = size_;
    range.outer = currentRange;
    currentRange = &range;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    access(context);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    currentRange = range.outer;
    lost_ = range.faulted != 0;
    return !lost_;
}

SharedMemoryView::SharedMemoryView(SharedMemoryView&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)), lost_(std::exchange(other.lost_, false)) {}

SharedMemoryView& SharedMemoryView::operator=(SharedMemoryView&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        lost_ = std::exchange(other.lost_, false);
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
    if (fstat(fd_, &st) != 0 || (static_cast<std::size_t>(st.st_size) < minBytes &&
                                 ftruncate(fd_, static_cast<off_t>(minBytes)) != 0)) {
        Close();
        return E_FAIL;
    }
    if (data_)
        munmap(data_, size_);
    data_ = nullptr;
    size_ = 0;
    lost_ = false; // the new mapping shows the object again
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
    lost_ = false;
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void StreamingCopy(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes) {
#if defined(__SSE2__)
    // Ordinary stores up to the first 16-byte boundary and after the last one, streaming stores
    // of 64 bytes (a cache line) and then of 16 between.
    const std::size_t head =
        std::min(bytes, (16 - reinterpret_cast<std::uintptr_t>(dst) % 16) % 16);
    std::memcpy(dst, src, head);
    std::size_t i = head;
    for (; i + 64 <= bytes; i += 64) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 32));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 48));
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i), a);
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i + 16), b);
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i + 32), c);
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i + 48), d);
    }
    for (; i + 16 <= bytes; i += 16)
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i)));
    std::memcpy(dst + i, src + i, bytes - i);
#else
    std::memcpy(dst, src, bytes);
#endif
}

void StoreFence() {
#if defined(__SSE2__)
    _mm_sfence();
#else
    std::atomic_thread_fence(std::memory_order_seq_cst);
#endif
}

} // namespace kelo
