// The start-up repair of recordings that were never finished (the studio killed or the
// machine down while recording): the record folder is searched and mended on a worker thread,
// and each mended recording is reported once on the window thread.
//
// Threads: Start and the destructor run on the window thread; the worker only reads and writes
// the recordings' files; the report comes back by a queued call, which a destroyed task never
// receives (the destructor joins the worker first).
#pragma once

#include "engine/RecordingRepair.h"

#include <functional>
#include <QObject>
#include <string>
#include <thread>
#include <vector>

namespace kelo {

class RecordingRepairTask : public QObject {
    Q_OBJECT
public:
    using ReportFn = std::function<void(const std::vector<RepairedRecording>&)>;

    explicit RecordingRepairTask(QObject* parent = nullptr);
    ~RecordingRepairTask() override;

    // Searches `folder` on the worker; `report` runs on this object's thread afterwards with
    // the recordings found (not at all when none was).
    void Start(const std::string& folder, ReportFn report);

    // Waits for the worker (tests; the destructor does it too).
    void Wait();

private:
    std::thread worker_;
};

// "已修复未完成的录制：NAME" for one recording (NAME: the file's name without its folder).
std::string RepairedRecordingText(const RepairedRecording& recording);

} // namespace kelo
