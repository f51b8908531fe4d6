// Ends an engine without freezing the window. Stopping a recording graph drains it (end of
// stream through the muxer and the file writer), which can take seconds; the window must go on
// painting meanwhile. The engine is detached from the window at once, drained and stopped on a
// worker thread, and destroyed back on the window thread, after which `done` runs there (the
// window builds the preview again).
//
// Threads: Retire, Finish and the destructor run on the window thread; the worker thread only
// calls the engine's DrainAndStop, while nothing else uses that engine.
#pragma once

#include "engine/CaptureEngine.h"

#include <functional>
#include <memory>
#include <QObject>
#include <thread>

namespace kelo {

class EngineStopper : public QObject {
    Q_OBJECT
public:
    explicit EngineStopper(QObject* parent = nullptr);
    // Finish: a drain in progress completes its file before the window goes.
    ~EngineStopper() override;

    // Takes `engine` (null: `done` is queued at once). A retirement still in progress is
    // finished first.
    void Retire(std::unique_ptr<CaptureEngine> engine, std::function<void()> done);

    // Waits for a drain in progress and destroys its engine; its `done` is not called (the
    // window is closing).
    void Finish();

    bool Busy() const { return engine_ != nullptr; }
    // How long the last completed drain took on the worker (what the window did not wait for).
    double LastDrainMilliseconds() const { return lastDrainMs_; }

private:
    void Complete(unsigned generation);

    std::unique_ptr<CaptureEngine> engine_; // the one being drained
    std::function<void()> done_;
    double lastDrainMs_ = 0;  // written by the worker before it hands back, read after the join
    unsigned generation_ = 0; // of the latest retirement: a late completion of an earlier one
                              // finds its engine already gone
    std::thread worker_;
};

} // namespace kelo
