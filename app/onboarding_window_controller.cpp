#include "app/onboarding_window_controller.h"

#include "app/update_controller.h"
#include "platform/permissions_controller.h"
#include "ui/onboarding_view.h"
#include "ui/palette.h"

#include <QEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>
#include <QWidget>

namespace pimsel {

OnboardingWindowController::OnboardingWindowController(PermissionsController& permissions,
                                                       UpdateController* updates, QObject* parent)
    : QObject(parent)
    , m_permissions(permissions)
    , m_updates(updates) {
    m_model.setAccessibilityGranted(m_permissions.accessibilityGranted());
    syncInputMonitoring();
    connect(&m_permissions, &PermissionsController::accessibilityGrantedChanged, &m_model,
            &OnboardingViewModel::setAccessibilityGranted);
    connect(&m_permissions, &PermissionsController::inputMonitoringGrantedChanged, this,
            &OnboardingWindowController::syncInputMonitoring);
    connect(&m_permissions, &PermissionsController::keysThroughInputMethodChanged, this,
            &OnboardingWindowController::syncInputMonitoring);
    connect(&m_model, &OnboardingViewModel::accessRequested, this,
            &OnboardingWindowController::requestAccess);
    connect(&m_model, &OnboardingViewModel::settingsRequested, this,
            &OnboardingWindowController::openSettings);

    m_model.setCanUpdate(m_updates != nullptr);
    if (m_updates) {
        m_model.setAutoUpdate(m_updates->automaticallyChecksForUpdates());
        connect(m_updates, &UpdateController::automaticallyChecksForUpdatesChanged, &m_model,
                &OnboardingViewModel::setAutoUpdate);
        connect(&m_model, &OnboardingViewModel::autoUpdateToggled, m_updates,
                &UpdateController::setAutomaticallyChecksForUpdates);
    }
}

OnboardingWindowController::~OnboardingWindowController() = default;

void OnboardingWindowController::syncInputMonitoring() {
    const bool granted = m_permissions.inputMonitoringGranted();
    m_model.setInputMonitoringGranted(granted);
    QString problem;
    if (!granted) {
        problem = PermissionsController::x11InputProblem();
        if (problem.isEmpty()) // the display looked fine a moment later: say what is known
            problem = tr("Pimsel cannot observe the keyboard in this session.");
    }
    m_model.setInputMonitoringProblem(problem);
    m_model.setInputRoute(m_permissions.keysThroughInputMethod() ? tr("keys through fcitx5") : QString());
}

void OnboardingWindowController::createWindow() {
    m_window = std::make_unique<QWidget>(nullptr, Qt::Window);
    m_window->setWindowTitle(tr("Welcome to Pimsel"));
    m_window->setFixedSize(OnboardingView::windowSize);
    palette::applyDarkAppearance(m_window.get());
    auto* layout = new QVBoxLayout(m_window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    m_view = new OnboardingView(m_model);
    layout->addWidget(m_view);
    // Ctrl+W and Ctrl+Q in a Pimsel window put it away; Pimsel itself keeps running.
    for (const QKeySequence& keys : {QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(Qt::CTRL | Qt::Key_Q)})
        connect(new QShortcut(keys, m_window.get()), &QShortcut::activated, m_window.get(), &QWidget::hide);
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma), m_window.get()), &QShortcut::activated,
            this, &OnboardingWindowController::preferencesRequested);
    m_window->installEventFilter(this);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), OnboardingView::windowSize);
        frame.moveCenter(screen->availableGeometry().center());
        m_window->move(frame.topLeft());
    }
}

void OnboardingWindowController::show() {
    if (!m_window)
        createWindow();
    // A grant made in the desktop's settings since the last look shows at once.
    m_permissions.refresh();
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    // The first thing the user can do here without any setup is try Pimsel. (Not a focus proxy:
    // the window and the view would then count as focused for assistive technology as well.)
    m_view->tryField()->setFocus(Qt::ActiveWindowFocusReason);
}

bool OnboardingWindowController::isVisible() const {
    return m_window && m_window->isVisible();
}

bool OnboardingWindowController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_window.get() && (event->type() == QEvent::Show || event->type() == QEvent::Hide))
        Q_EMIT visibleChanged(event->type() == QEvent::Show);
    return QObject::eventFilter(watched, event);
}

void OnboardingWindowController::requestAccess(OnboardingViewModel::Step step) {
    if (step != OnboardingViewModel::Step::accessibility)
        return;
    m_permissions.requestAccessibility();
    m_permissions.refresh();
}

void OnboardingWindowController::openSettings(OnboardingViewModel::Step step) {
    m_permissions.openSystemSettings(step == OnboardingViewModel::Step::accessibility
                                         ? PermissionsController::accessibilitySettingsAddress
                                         : PermissionsController::inputMonitoringSettingsAddress);
}

} // namespace pimsel
