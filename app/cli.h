#pragma once

#include <QString>
#include <QStringList>

class QTextStream;

namespace pimsel {

struct CliOptions {
    // The catalogue file to search; empty means the one compiled into the binary.
    QString catalogPath;
};

// Exit statuses, as a shell sees them.
enum CliStatus : int { cliSuccess = 0, cliNoMatch = 1, cliWriteError = 1, cliUsageError = 2 };

// Runs one command-line invocation. `arguments` excludes the program name. Results go to
// `out`, diagnostics to `err`; output that cannot be written is reported on `err` and ends
// with cliWriteError. Never needs a display and never writes the settings file.
int runCli(const QStringList& arguments, QTextStream& out, QTextStream& err, const CliOptions& options = {});

} // namespace pimsel
