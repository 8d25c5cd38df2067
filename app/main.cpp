#include "app/app_entry.h"
#include "app/cli.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv) {
    if (argc > 1) {
        // The command line needs no display, so no GUI application object.
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("pimsel"));
        QTextStream out(stdout);
        QTextStream err(stderr);
        return pimsel::runCli(QCoreApplication::arguments().mid(1), out, err);
    }
    return pimsel::runDesktopApplication(argc, argv);
}
