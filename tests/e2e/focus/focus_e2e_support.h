#pragma once

// Starting target applications inside the test desktop and reading back what the window system
// says about them, for the focus-context and frontmost-application tests.

#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace pimsel::e2e {

// A target application that printed "READY <xid>"; terminated (and resumed first, if stopped) on
// destruction.
class Target {
public:
    // `program` and `arguments` as for QProcess; waits up to `timeoutMs` for the READY line.
    static std::unique_ptr<Target> start(const QString& program, const QStringList& arguments,
                                         int timeoutMs = 20000);
    ~Target();

    qint64 pid() const { return m_process.processId(); }
    std::uint32_t window() const { return m_window; }
    QString output() const { return m_output; }
    void stop();   // SIGSTOP
    void resume(); // SIGCONT

private:
    QProcess m_process;
    std::uint32_t m_window = 0;
    QString m_output;
    bool m_stopped = false;
};

// Path of the GTK target script and the Qt target binary (set by the build).
QString gtkTargetScript();
QString qtTargetBinary();
std::unique_ptr<Target> startGtkTarget(const QStringList& arguments);
std::unique_ptr<Target> startQtTarget(const QStringList& arguments);

// The window's rectangle on screen, in root coordinates.
std::optional<QRect> windowGeometry(std::uint32_t window);

// Presses and releases the key of `keysym` through XTEST, `count` times, and waits for the server.
void pressKey(std::uint32_t keysym, int count = 1);

// Runs the event loop until `condition` holds or `timeoutMs` passes; true when it held.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 10000);

} // namespace pimsel::e2e
