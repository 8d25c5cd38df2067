#pragma once

#include <QLoggingCategory>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

namespace pimsel {

// The "permissions" channel: the Input Monitoring request sequence logs its steps here.
Q_DECLARE_LOGGING_CATEGORY(permissionsLog)

// The two things Pimsel needs from the desktop: the accessibility bus switched on (to read the
// focused field, the caret and a browser's address) and the keys: an X11 display with XInput 2.2
// and XTEST (to observe keys and post its own), or fcitx5 running Pimsel's module, which handles
// them inside the input method instead. Each flag is published only when it really changes.
class PermissionsController : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool accessibilityGranted READ accessibilityGranted NOTIFY accessibilityGrantedChanged)
    Q_PROPERTY(bool inputMonitoringGranted READ inputMonitoringGranted NOTIFY inputMonitoringGrantedChanged)
    // The keys reach Pimsel through fcitx5's module rather than its own hook.
    Q_PROPERTY(bool keysThroughInputMethod READ keysThroughInputMethod NOTIFY keysThroughInputMethodChanged)
    // The name of an application that started while accessibility was off and stays out of reach
    // until it is restarted; empty when there is none.
    Q_PROPERTY(QString applicationNeedingRestart READ applicationNeedingRestart NOTIFY
                   applicationNeedingRestartChanged)

public:
    // Where the user is sent to grant each permission. The accessibility address is replaced by the
    // desktop's own accessibility settings when one of them is installed.
    static const QString accessibilitySettingsAddress;
    static const QString inputMonitoringSettingsAddress;

    struct Probes {
        std::function<bool()> accessibility;
        std::function<bool()> inputMonitoring;
        // Starts a program detached; false when it could not be started.
        std::function<bool(const QString& program, const QStringList& arguments)> startProgram;
        std::function<QString(const QString& program)> findProgram;
        std::function<bool(const QUrl& url)> openUrl;
        // Switches the accessibility bus on.
        std::function<void()> enableAccessibility;
        // Whether fcitx5 runs Pimsel's module in this session.
        std::function<bool()> inputMethod = {};
    };
    // The real desktop: the session bus, the X display, QProcess and QDesktopServices.
    static Probes systemProbes();

    explicit PermissionsController(QObject* parent = nullptr);
    PermissionsController(Probes probes, QObject* parent = nullptr);

    bool accessibilityGranted() const { return m_accessibilityGranted; }
    bool inputMonitoringGranted() const { return m_inputMonitoringGranted; }
    bool keysThroughInputMethod() const { return m_keysThroughInputMethod; }
    QString applicationNeedingRestart() const { return m_applicationNeedingRestart; }

    void refresh();
    // `name` (empty: none) is the application to restart now that accessibility is on.
    void setApplicationNeedingRestart(const QString& name);
    // Switches the accessibility bus on; the flag follows at the next refresh. Applications read
    // the switch when they start, so running ones may need a restart to be seen.
    void requestAccessibility();
    // One of the two addresses above; anything that is not a valid address is ignored.
    void openSystemSettings(const QString& address);

    static bool accessibilityBusEnabled();
    // The switch of the accessibility bus that the request turns on.
    static void setAccessibilityBusEnabled(bool on);
    static bool x11InputAvailable();
    // Whether fcitx5 runs Pimsel's module in this session: it holds its name on the session bus.
    static bool inputMethodModuleRunning();
    // Why keys cannot be observed and posted here, in words for the user; empty when they can.
    static QString x11InputProblem();

Q_SIGNALS:
    void accessibilityGrantedChanged(bool granted);
    void inputMonitoringGrantedChanged(bool granted);
    void keysThroughInputMethodChanged(bool through);
    void applicationNeedingRestartChanged(const QString& name);

private:
    Probes m_probes;
    bool m_accessibilityGranted = false;
    bool m_inputMonitoringGranted = false;
    bool m_keysThroughInputMethod = false;
    QString m_applicationNeedingRestart;
};

} // namespace pimsel
