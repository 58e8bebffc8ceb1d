// Runs the window tests inside one QApplication on Qt's offscreen platform, so they need no
// display and open nothing on the user's screen.
#include <gtest/gtest.h>

#include <QApplication>

#include "ui/look.h"

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    tessel::ui::PrepareApplication();
    return RUN_ALL_TESTS();
}
