#pragma once

#include "ui/onboarding_view_model.h"

#include <QObject>

#include <memory>

class QWidget;

namespace pimsel {

class OnboardingView;
class PermissionsController;
class UpdateController;

// The onboarding window: greets the user, walks through the two permissions, offers a field to
// try Pimsel in and the automatic update switch. The window is made on the first show and kept;
// closing it only hides it.
class OnboardingWindowController : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isVisible READ isVisible NOTIFY visibleChanged)

public:
    // Both collaborators must outlive the controller; `updates` may be null (no updater in this
    // build), which leaves the update switch off and disabled.
    OnboardingWindowController(PermissionsController& permissions, UpdateController* updates,
                               QObject* parent = nullptr);
    ~OnboardingWindowController() override;

    // Makes the window on first use, then shows it in front with the keyboard in the try field.
    void show();
    bool isVisible() const;
    // None until the first show.
    QWidget* window() const { return m_window.get(); }
    OnboardingView* view() const { return m_view; }
    OnboardingViewModel& model() { return m_model; }

Q_SIGNALS:
    void visibleChanged(bool visible);
    // Ctrl+"," in the window.
    void preferencesRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createWindow();
    void syncInputMonitoring();
    void requestAccess(OnboardingViewModel::Step step);
    void openSettings(OnboardingViewModel::Step step);

    PermissionsController& m_permissions;
    UpdateController* m_updates;
    OnboardingViewModel m_model;
    std::unique_ptr<QWidget> m_window;
    OnboardingView* m_view = nullptr;
};

} // namespace pimsel
