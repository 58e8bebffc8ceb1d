// Runs the window tests inside one QApplication on Qt's offscreen platform, so they need no
// display and open nothing on the user's screen. TESSEL_TEST_PLATFORM names another platform
// for the runs that need a real one (the run beside the accessibility bus uses xcb).
#include <gtest/gtest.h>

#include <QApplication>

#include "ui/look.h"

int main(int argc, char* argv[]) {
    const QByteArray platform = qgetenv("TESSEL_TEST_PLATFORM");
    qputenv("QT_QPA_PLATFORM", platform.isEmpty() ? QByteArray("offscreen") : platform);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    tessel::ui::PrepareApplication();
    return RUN_ALL_TESTS();
}
