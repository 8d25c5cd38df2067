#pragma once

#include <QObject>
#include <QString>

namespace pimsel {

// What the onboarding window shows, published for its view: the two grants, why keys cannot be
// observed when they cannot, and the automatic update switch. The controller keeps it in step
// with the permissions and the updater and answers the user's requests.
class OnboardingViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(
        bool accessibilityGranted READ accessibilityGranted WRITE setAccessibilityGranted NOTIFY changed)
    Q_PROPERTY(bool inputMonitoringGranted READ inputMonitoringGranted WRITE setInputMonitoringGranted NOTIFY
                   changed)
    Q_PROPERTY(QString inputMonitoringProblem READ inputMonitoringProblem WRITE setInputMonitoringProblem
                   NOTIFY changed)
    // Set when the keys come through fcitx5's module: the route in words.
    Q_PROPERTY(QString inputRoute READ inputRoute WRITE setInputRoute NOTIFY changed)
    Q_PROPERTY(bool autoUpdate READ autoUpdate WRITE setAutoUpdate NOTIFY changed)
    Q_PROPERTY(bool canUpdate READ canUpdate WRITE setCanUpdate NOTIFY changed)

public:
    enum class Step { accessibility = 1, inputMonitoring = 2 };
    Q_ENUM(Step)

    using QObject::QObject;

    bool accessibilityGranted() const { return m_accessibilityGranted; }
    bool inputMonitoringGranted() const { return m_inputMonitoringGranted; }
    QString inputMonitoringProblem() const { return m_inputMonitoringProblem; }
    QString inputRoute() const { return m_inputRoute; }
    bool autoUpdate() const { return m_autoUpdate; }
    bool canUpdate() const { return m_canUpdate; }
    bool isGranted(Step step) const {
        return step == Step::accessibility ? m_accessibilityGranted : m_inputMonitoringGranted;
    }

    void setAccessibilityGranted(bool on) { assign(m_accessibilityGranted, on); }
    void setInputMonitoringGranted(bool on) { assign(m_inputMonitoringGranted, on); }
    void setInputMonitoringProblem(const QString& text) { assign(m_inputMonitoringProblem, text); }
    void setInputRoute(const QString& text) { assign(m_inputRoute, text); }
    void setAutoUpdate(bool on) { assign(m_autoUpdate, on); }
    void setCanUpdate(bool on) { assign(m_canUpdate, on); }

Q_SIGNALS:
    void changed();
    // The user's requests, for the controller.
    void accessRequested(pimsel::OnboardingViewModel::Step step);
    void settingsRequested(pimsel::OnboardingViewModel::Step step);
    void autoUpdateToggled(bool on);

private:
    template <typename T> void assign(T& field, const T& value) {
        if (field == value)
            return;
        field = value;
        Q_EMIT changed();
    }

    bool m_accessibilityGranted = false;
    bool m_inputMonitoringGranted = false;
    QString m_inputMonitoringProblem;
    QString m_inputRoute;
    bool m_autoUpdate = false;
    bool m_canUpdate = false;
};

} // namespace pimsel
