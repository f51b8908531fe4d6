// Runs the Qt event loop of a benchmark until a condition holds.
#pragma once

#include <QApplication>
#include <QElapsedTimer>

namespace kelo::bench {

// Processes events until done() is true (true) or timeoutMs has passed (false).
template <class Done> bool Pump(Done done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

} // namespace kelo::bench
