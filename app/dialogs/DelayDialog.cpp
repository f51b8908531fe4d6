#include "app/dialogs/DelayDialog.h"

#include "ui/IconButton.h"
#include "ui/ModalSeam.h"
#include "ui/Skin.h"

#include <limits>
#include <QLineEdit>

namespace kelo {
namespace {

using ui::IconButton;

using ui::skin::kCancelIcon;
using ui::skin::kOkIcon;

} // namespace

DelayDialog::DelayDialog(QWidget* parent)
    : ui::SkinnedDialog(kTemplateId, ui::skin::kPageBackground, parent) {}

QString DelayDialog::NotAnIntegerText() {
    return tr("请输入一个整数。");
}

QString DelayDialog::OutOfRangeText(int lower, int upper) {
    return tr("请输入一个介于 %1 和 %2 之间的整数。").arg(lower).arg(upper);
}

std::optional<int> DelayDialog::ParseInteger(const QString& text) {
    const QString trimmed = text.trimmed();
    int i = 0;
    if (i < trimmed.size() && (trimmed[i] == u'-' || trimmed[i] == u'+'))
        ++i;
    const int digitsFrom = i;
    while (i < trimmed.size() && trimmed[i] >= u'0' && trimmed[i] <= u'9')
        ++i;
    if (i == digitsFrom || i != trimmed.size())
        return std::nullopt;
    bool ok = false;
    const long long value = trimmed.toLongLong(&ok);
    if (!ok || value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(value);
}

void DelayDialog::OnInitDialog() {
    for (const auto& [id, icon] :
         {std::pair{ui::IDOK, kOkIcon}, std::pair{ui::IDCANCEL, kCancelIcon}}) {
        if (auto* button = Control<IconButton>(id)) {
            button->SetIcon(icon);
            button->DressOnSkin();
        }
    }
    // Data exchange into the controls: the edit shows `seconds`.
    if (auto* edit = Control<QLineEdit>(kSecondsEdit))
        edit->setText(QString::number(seconds));
}

void DelayDialog::accept() {
    auto* edit = Control<QLineEdit>(kSecondsEdit);
    const std::optional<int> value = ParseInteger(edit ? edit->text() : QString());
    QString complaint;
    if (!value)
        complaint = NotAnIntegerText();
    else if (*value < kMinSeconds || *value > kMaxSeconds)
        complaint = OutOfRangeText(kMinSeconds, kMaxSeconds);
    if (!complaint.isEmpty()) {
        // The dialog stays open; the edit gets the focus with its text selected, ready to retype.
        (void)ui::AfxMessageBox(complaint); // only OK can be pressed
        if (edit) {
            edit->setFocus();
            edit->selectAll();
        }
        return;
    }
    seconds = *value;
    SkinnedDialog::accept();
}

} // namespace kelo
