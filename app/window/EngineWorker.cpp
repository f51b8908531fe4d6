#include "app/window/EngineWorker.h"

#include <chrono>
#include <QMetaObject>

namespace kelo {

EngineWorker::EngineWorker(QObject* parent) : QObject(parent), thread_([this] { Loop(); }) {}

EngineWorker::~EngineWorker() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true; // the loop empties the queue first
        wake_.notify_all();
    }
    thread_.join();
}

void EngineWorker::Post(std::function<void()> work, std::function<void()> done) {
    auto job = std::make_shared<Job>();
    job->work = std::move(work);
    job->done = std::move(done);
    ++outstanding_;
    std::lock_guard lock(mutex_);
    queued_.push_back(std::move(job));
    wake_.notify_all();
}

void EngineWorker::Retire(std::unique_ptr<CaptureEngine> engine, std::function<void()> done) {
    if (engine)
        engine->DetachFromOwner(); // window thread: no error or photo of it reaches us now
    auto job = std::make_shared<Job>();
    job->done = std::move(done);
    job->retirement = engine != nullptr;
    // The engine moves with the work: shared, because std::function must be copyable.
    job->work = [this, held = std::shared_ptr<CaptureEngine>(std::move(engine))]() mutable {
        if (!held)
            return;
        const auto start = std::chrono::steady_clock::now();
        (void)held->DrainAndStop(); // a graph that would not drain is stopped all the same
        lastDrainMs_ =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        held.reset(); // in NULL: the destructor closes the feed before the next engine runs
    };
    ++outstanding_;
    if (job->retirement)
        ++retiring_;
    std::lock_guard lock(mutex_);
    queued_.push_back(std::move(job));
    wake_.notify_all();
}

void EngineWorker::Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || !queued_.empty(); });
        if (queued_.empty())
            return; // stopping, and nothing is left to run
        std::shared_ptr<Job> job = std::move(queued_.front());
        queued_.pop_front();
        running_ = true;
        lock.unlock();
        if (job->work)
            job->work();
        job->work = nullptr; // what the work held goes here, on the worker
        lock.lock();
        running_ = false;
        finished_.push_back(std::move(job));
        if (queued_.empty())
            idle_.notify_all();
        if (!stop_) {
            // Dropped unrun if the worker is gone by then.
            QMetaObject::invokeMethod(
                this, [this] { DeliverFinished(); }, Qt::QueuedConnection);
        }
    }
}

void EngineWorker::DeliverFinished() {
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::lock_guard lock(mutex_);
            if (finished_.empty())
                return;
            job = std::move(finished_.front());
            finished_.pop_front();
        }
        --outstanding_;
        if (job->retirement)
            --retiring_;
        // One at a time: a `done` may queue more work, or open a box whose event loop delivers
        // the next one; either way the order stays.
        if (job->done)
            job->done();
    }
}

void EngineWorker::WaitForAll() {
    {
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [this] { return queued_.empty() && !running_; });
    }
    DeliverFinished();
}

} // namespace kelo
