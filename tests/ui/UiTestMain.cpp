// main() of the widget tests: one QApplication (offscreen platform, set by the test runner)
// with the studio's dialog font, then GoogleTest.
#include "ui/Skin.h"

#include <gtest/gtest.h>
#include <QApplication>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Headless unless told otherwise (test discovery runs without the test environment).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    kelo::ui::InstallApplicationFont();
    return RUN_ALL_TESTS();
}
