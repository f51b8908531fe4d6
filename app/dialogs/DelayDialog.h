// The delayed-snapshot dialog (template 149): how many seconds to wait before the photo. The
// value is exchanged with edit 1027 as an integer and must lie in 3..60; any other entry keeps
// the dialog open with the framework's standard message and the edit selected. The up-down
// control 1029 steps the edit's number and keeps its default range.
#pragma once

#include "ui/SkinnedDialog.h"

#include <optional>
#include <QString>

namespace kelo {

class DelayDialog : public ui::SkinnedDialog {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 149;
    static constexpr int kSecondsEdit = 1027;
    static constexpr int kSecondsUpDown = 1029;
    static constexpr int kMinSeconds = 3;
    static constexpr int kMaxSeconds = 60;

    explicit DelayDialog(QWidget* parent = nullptr);

    // The seconds to wait: 3 at creation; after OK, the value entered (within 3..60).
    int seconds = kMinSeconds;

    // The framework's texts for an entry that is no integer, and for one outside the range.
    static QString NotAnIntegerText();
    static QString OutOfRangeText(int lower, int upper);

    // The integer an edit holds, read as the framework reads it: optional blanks, an optional
    // sign, decimal digits, optional blanks; nothing else. None for anything else (empty text,
    // letters, a number beyond 32 bits).
    static std::optional<int> ParseInteger(const QString& text);

    // OK: exchanges and validates the value; the dialog ends only with a valid one.
    void accept() override;

protected:
    void OnInitDialog() override;
};

} // namespace kelo
