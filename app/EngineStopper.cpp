#include "app/EngineStopper.h"

#include <chrono>
#include <QMetaObject>

namespace kelo {

EngineStopper::EngineStopper(QObject* parent) : QObject(parent) {}

EngineStopper::~EngineStopper() {
    Finish();
}

void EngineStopper::Retire(std::unique_ptr<CaptureEngine> engine, std::function<void()> done) {
    Finish();
    if (!engine) {
        QMetaObject::invokeMethod(
            this, [done = std::move(done)] { done(); }, Qt::QueuedConnection);
        return;
    }
    engine->DetachFromOwner();
    engine_ = std::move(engine);
    done_ = std::move(done);
    CaptureEngine* draining = engine_.get();
    const unsigned generation = ++generation_;
    worker_ = std::thread([this, draining, generation] {
        const auto start = std::chrono::steady_clock::now();
        (void)draining->DrainAndStop(); // a graph that would not drain is stopped all the same
        lastDrainMs_ =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        // Back to the window thread; dropped if the stopper is gone by then (Finish joined us).
        QMetaObject::invokeMethod(
            this, [this, generation] { Complete(generation); }, Qt::QueuedConnection);
    });
}

void EngineStopper::Complete(unsigned generation) {
    if (generation != generation_ || !worker_.joinable())
        return; // Finish got there first
    worker_.join();
    engine_.reset(); // the graph is in NULL: quick
    if (auto done = std::exchange(done_, nullptr))
        done();
}

void EngineStopper::Finish() {
    if (worker_.joinable())
        worker_.join();
    engine_.reset();
    done_ = nullptr;
}

} // namespace kelo
