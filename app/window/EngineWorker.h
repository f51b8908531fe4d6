// The window's engine worker: every slow step of an engine's life (building and starting its
// graph, draining a recording into its file, stopping, destroying) runs here, one engine at a
// time and in the order it was asked for, so that the window never waits on a pipeline. Each
// piece of work may name what follows it on the window thread (`done`), which runs there by a
// queued call once the work is over, in the same order, and is never dropped while the worker
// lives.
//
// Threads: Post, Retire, WaitForAll and the destructor run on the window thread (the thread the
// worker was made on); the work runs on the worker's own thread, while nothing else uses the
// engine it is given. An engine given to Retire is detached from its owner at once and
// destroyed on the worker after its drain, so that the next engine starts on a free device and
// a fresh feed.
#pragma once

#include "engine/CaptureEngine.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <QObject>
#include <thread>

namespace kelo {

class EngineWorker : public QObject {
    Q_OBJECT
public:
    explicit EngineWorker(QObject* parent = nullptr);
    // Runs every piece of work still queued (a recording being drained completes its file
    // before the window goes); their `done` calls are not run (the window is closing).
    ~EngineWorker() override;
    EngineWorker(const EngineWorker&) = delete;
    EngineWorker& operator=(const EngineWorker&) = delete;

    // Queues `work` for the worker thread; `done` (may be empty) follows on the window thread.
    void Post(std::function<void()> work, std::function<void()> done);
    // Takes `engine` (null: only `done` follows, in turn): detached now, drained, stopped and
    // destroyed on the worker, then `done` on the window thread.
    void Retire(std::unique_ptr<CaptureEngine> engine, std::function<void()> done);
    // Blocks the calling (window) thread until everything queued so far has run, then runs the
    // `done` calls that are due. Only for the window's last moments and for tests.
    void WaitForAll();

    // Window thread: work queued or running, or a `done` not yet run.
    bool Busy() const { return outstanding_ > 0; }
    // An engine handed to Retire is still being drained or destroyed.
    bool Retiring() const { return retiring_ > 0; }
    // How long the last drain took on the worker (what the window did not wait for).
    double LastDrainMilliseconds() const { return lastDrainMs_.load(); }

private:
    struct Job {
        std::function<void()> work;
        std::function<void()> done;
        bool retirement = false;
    };
    void Loop();
    // Window thread: runs the `done` of every job the worker has finished, in order.
    void DeliverFinished();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::shared_ptr<Job>> queued_;   // guarded by mutex_
    std::deque<std::shared_ptr<Job>> finished_; // guarded by mutex_: worked, `done` due
    bool running_ = false;                      // guarded by mutex_: the worker is in a job
    bool stop_ = false;                         // guarded by mutex_
    int outstanding_ = 0;                       // window thread
    int retiring_ = 0;                          // window thread
    std::atomic<double> lastDrainMs_{0};
    std::thread thread_; // last: started when everything above is in place
};

} // namespace kelo
