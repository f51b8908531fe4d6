// A device list of the main window: the engine fills and selects a combo box through it. The
// user's own selection changes come from the combo box (QComboBox::activated); what the engine
// does here never looks like one. Window thread.
#pragma once

#include "engine/CaptureEngineOwner.h"

#include <QComboBox>
#include <QPointer>

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

} // namespace kelo
