// A device list of the main window: the engine fills and selects a combo box through it. The
// user's own selection changes come from the combo box (QComboBox::activated); what the engine
// does here never looks like one. Window thread.
#pragma once

#include "engine/CaptureEngineOwner.h"

#include <QComboBox>
#include <QPointer>
#include <string>
#include <vector>

namespace kelo {

class DeviceComboList : public DeviceList {
public:
    // The combo box is owned by its window; the list only borrows it (and does nothing once it
    // is gone).
    explicit DeviceComboList(QComboBox* combo = nullptr) : combo_(combo) {}
    void SetComboBox(QComboBox* combo) { combo_ = combo; }
    QComboBox* ComboBox() const { return combo_; }

    void Clear() override;
    void Insert(int index, const std::string& name) override;
    void Select(int index) override;

private:
    QPointer<QComboBox> combo_;
};

// A device list an engine fills off the window thread: it keeps what it was told, and the
// window shows it in its combo box afterwards (ShowIn). Used by one thread at a time: the
// engine worker while an engine is built, the window thread after that build's result arrived.
class DeviceNameList : public DeviceList {
public:
    void Clear() override {
        names_.clear();
        selected_ = -1;
        filled_ = true;
    }
    void Insert(int index, const std::string& name) override;
    void Select(int index) override { selected_ = index; }

    // Whether an engine filled the list since the last ShowIn.
    bool Filled() const { return filled_; }
    // Fills `list` as the engine filled this one.
    void ShowIn(DeviceList& list);

private:
    std::vector<std::string> names_;
    int selected_ = -1;
    bool filled_ = false;
};

} // namespace kelo
