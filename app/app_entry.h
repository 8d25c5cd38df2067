#pragma once

#include <QString>

namespace pimsel {

// Exit statuses of the desktop application.
enum DesktopStatus : int { desktopSuccess = 0, desktopNoDisplay = 2, desktopFailed = 1 };

// Why no X11 display can be used for the desktop application, or empty when one can.
QString x11DisplayProblem();

// Where the lock that keeps one instance per user and display lives.
QString instanceLockPath();

// Runs the tray application until it is asked to quit. Prints to stderr and returns
// desktopNoDisplay without an X11 display; returns 0 at once when another instance already runs.
int runDesktopApplication(int& argc, char** argv);

} // namespace pimsel
