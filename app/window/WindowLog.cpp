#include "app/window/WindowLog.h"

#include <ctime>

namespace kelo {

Q_LOGGING_CATEGORY(lcWindow, "kelo.window", QtWarningMsg)

long long MonotonicMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

} // namespace kelo
