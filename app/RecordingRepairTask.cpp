#include "app/RecordingRepairTask.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace kelo {

RecordingRepairTask::RecordingRepairTask(QObject* parent) : QObject(parent) {}

RecordingRepairTask::~RecordingRepairTask() {
    Wait();
}

void RecordingRepairTask::Wait() {
    if (worker_.joinable())
        worker_.join();
}

void RecordingRepairTask::Start(const std::string& folder, ReportFn report) {
    Wait();
    worker_ = std::thread([this, folder, report = std::move(report)] {
        std::vector<RepairedRecording> found = RepairUnfinishedRecordings(folder);
        if (found.empty())
            return;
        // Queued to this object's thread; dropped when the object is gone, which cannot
        // happen before this thread is joined.
        QMetaObject::invokeMethod(
            this, [report, found = std::move(found)] { report(found); }, Qt::QueuedConnection);
    });
}

std::string RepairedRecordingText(const RepairedRecording& recording) {
    const std::size_t slash = recording.file.rfind('/');
    return QCoreApplication::translate("kelo::MainDialog", "已修复未完成的录制：").toStdString() +
           recording.file.substr(slash == std::string::npos ? 0 : slash + 1);
}

} // namespace kelo
