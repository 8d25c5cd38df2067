#include <QApplication>
#include <gtest/gtest.h>

// Widgets, fonts and screens need a full application object; without a display the suite runs on
// the offscreen platform.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("pimsel-tests"));
    QApplication::setApplicationName(QStringLiteral("pimsel-tests"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
