#include "app/window/DeviceComboList.h"

#include <QComboBox>

namespace kelo {

void DeviceComboList::Clear() {
    if (combo_)
        combo_->clear();
}

void DeviceComboList::Insert(int index, const std::string& name) {
    if (!combo_)
        return;
    // Past the end appends, as the platform's list does with an index of -1.
    if (index < 0 || index > combo_->count())
        index = combo_->count();
    combo_->insertItem(index, QString::fromStdString(name));
}

void DeviceComboList::Select(int index) {
    if (!combo_)
        return;
    // The first insert into an empty box selects it; the engine's choice decides.
    combo_->setCurrentIndex(index >= 0 && index < combo_->count() ? index : -1);
}

void DeviceNameList::Insert(int index, const std::string& name) {
    filled_ = true;
    if (index < 0 || index > static_cast<int>(names_.size()))
        index = static_cast<int>(names_.size());
    names_.insert(names_.begin() + index, name);
}

void DeviceNameList::ShowIn(DeviceList& list) {
    list.Clear();
    for (std::size_t i = 0; i < names_.size(); ++i)
        list.Insert(static_cast<int>(i), names_[i]);
    list.Select(selected_);
    filled_ = false;
}

} // namespace kelo
