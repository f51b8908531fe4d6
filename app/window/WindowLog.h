// The window's logging category, "kelo.window": off by default (QT_LOGGING_RULES=
// "kelo.window.info=true" turns it on). It says what failed and when the first frame was painted.
#pragma once

#include <QLoggingCategory>

namespace kelo {

Q_DECLARE_LOGGING_CATEGORY(lcWindow)

// CLOCK_MONOTONIC in milliseconds: comparable across processes on one machine (the benchmark
// measures from its own clock to the studio's first painted frame).
long long MonotonicMilliseconds();

} // namespace kelo
