#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QTextStream;

namespace pimsel {

struct CliOptions {
    // The catalogue file to search; empty means the one compiled into the binary.
    QString catalogPath;
};

// Exit statuses, as a shell sees them.
enum CliStatus : int { cliSuccess = 0, cliNoMatch = 1, cliWriteError = 1, cliUsageError = 2 };

// What a start of the desktop application asks for: the application itself (the reopen of a
// running one), or one of its windows.
enum class ShellRequest { reopen, preferences, setup };

// The desktop request that `arguments` (without the program name) make; none when they are a
// command for runCli.
std::optional<ShellRequest> shellRequestFor(const QStringList& arguments);

// Runs one command-line invocation. `arguments` excludes the program name. Results go to
// `out`, diagnostics to `err`; output that cannot be written is reported on `err` and ends
// with cliWriteError. Never needs a display and never writes the settings file.
int runCli(const QStringList& arguments, QTextStream& out, QTextStream& err, const CliOptions& options = {});

} // namespace pimsel
