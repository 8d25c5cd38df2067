#pragma once

#include "app/cli.h"

#include <QString>

namespace pimsel {

// Exit statuses of the desktop application.
enum DesktopStatus : int { desktopSuccess = 0, desktopNoDisplay = 2, desktopFailed = 1 };

// Why no X11 display can be used for the desktop application, or empty when one can.
QString x11DisplayProblem();

// Where the lock that keeps one instance per user and display lives.
QString instanceLockPath();

// Where the running instance listens for the requests of later starts.
QString instanceSocketPath();

// Runs the tray application until it is asked to quit, then opens the window `request` names.
// Prints to stderr and returns desktopNoDisplay without an X11 or a Wayland display. When another instance
// already runs, hands `request` over to it and returns at once: 0 once it has taken it.
int runDesktopApplication(int& argc, char** argv, ShellRequest request = ShellRequest::reopen);

} // namespace pimsel
