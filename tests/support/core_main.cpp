#include <QCoreApplication>
#include <gtest/gtest.h>

// Timers, queued calls and QPointer-guarded completions need a live application object.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("pimsel-tests"));
    QCoreApplication::setApplicationName(QStringLiteral("pimsel-tests"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
