#include "app/app_entry.h"
#include "app/cli.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (const std::optional<pimsel::ShellRequest> request = pimsel::shellRequestFor(arguments))
        return pimsel::runDesktopApplication(argc, argv, *request);

    // The command line needs no display, so no GUI application object.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pimsel"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    return pimsel::runCli(QCoreApplication::arguments().mid(1), out, err);
}
