// The "其它" page (template 163): the "遮盖脸部" check box switches the face cover of the frame
// pipeline on and off. The page keeps no state of its own: the switch lives in the process-wide
// EffectState and the box's mark is the only thing that shows it. Nothing is stored.
// The "背景虚化" check box below it switches the background blur the same way; that switch is
// kept in data.ini ([Effect] BackgroundBlur) and restored when the page is made.
//
// Threads: window thread only.
#pragma once

#include "app/pages/EnginePage.h"

namespace kelo {

class FaceCoverPage : public EnginePage {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 163;
    static constexpr int kFaceCoverCheck = 1110;
    static constexpr int kBackgroundBlurCheck = 1111;
    // Present in the template, never shown, without any action.
    static constexpr int kHiddenButtons[] = {1094, 1095, 1096, 1097};

    explicit FaceCoverPage(QWidget* parent = nullptr);

private:
    void OnInitDialog() override;
    void OnBackgroundBlurClicked();
    // The message table of the page.
    void OnCommand(int controlId);
};

} // namespace kelo
