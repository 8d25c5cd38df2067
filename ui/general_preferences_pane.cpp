#include "ui/general_preferences_pane.h"

#include "engine/settings_store.h"
#include "platform/permissions_controller.h"
#include "ui/palette.h"
#include "ui/skin_tone_picker.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace pimsel {

using preferences::caption;
using preferences::Switch;

namespace {

constexpr int stateIconSize = 14;

void showState(QLabel* label, bool granted) {
    const QString icon = granted ? QStringLiteral("object-select") : QStringLiteral("dialog-warning");
    label->setText(granted ? GeneralPreferencesPane::tr("Granted")
                           : GeneralPreferencesPane::tr("Not granted"));
    auto* symbol = label->parentWidget()->findChild<QLabel*>(QStringLiteral("stateIcon"));
    symbol->setPixmap(preferences::symbol(icon).pixmap(stateIconSize, stateIconSize));
}

QPushButton* trailingButton(QVBoxLayout* section, const QString& text) {
    auto* button = new QPushButton(text);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(button);
    section->addLayout(row);
    return button;
}

} // namespace

GeneralPreferencesPane::GeneralPreferencesPane(SettingsStore& settings, PermissionsController& permissions,
                                               QObject* updater, QWidget* parent)
    : preferences::Form(parent)
    , m_permissions(permissions)
    , m_enabled(new Switch(tr("Enable Pimsel")))
    , m_launchAtLogin(new Switch(tr("Launch at login")))
    , m_tones(new SkinTonePicker(settings)) {
    QVBoxLayout* basics = addSection();
    basics->addWidget(m_enabled);
    basics->addWidget(m_launchAtLogin);
    m_enabled->bind(&settings, "enabled");
    m_launchAtLogin->bind(&settings, "launchAtLogin");

    QVBoxLayout* tone = addSection(tr("Skin Tone"));
    tone->addWidget(m_tones);
    tone->addWidget(
        caption(tr("Applied to emoji like 👋 and 👍. You can also pick a tone from the suggestion popover.")));

    QVBoxLayout* access = addSection(tr("Permissions"));
    m_accessibility =
        addPermissionRow(access, tr("Accessibility"),
                         tr("Lets Pimsel detect the active text field and insert the selected emoji."));
    m_inputMonitoring =
        addPermissionRow(access, tr("Input Monitoring"),
                         tr("Lets Pimsel detect when you type emoji shortcuts like :lizard:."));
    connect(trailingButton(access, tr("Open Setup…")), &QPushButton::clicked, this,
            &GeneralPreferencesPane::openSetupRequested);
    connect(&permissions, &PermissionsController::accessibilityGrantedChanged, this,
            &GeneralPreferencesPane::rereadPermissions);
    connect(&permissions, &PermissionsController::inputMonitoringGrantedChanged, this,
            &GeneralPreferencesPane::rereadPermissions);
    rereadPermissions();

    if (updater == nullptr)
        return;
    QVBoxLayout* updates = addSection(tr("Updates"));
    m_updates = new Switch(tr("Keep Pimsel up to date"));
    m_updates->bind(updater, "automaticallyChecksForUpdates");
    updates->addWidget(m_updates);
    updates->addWidget(
        caption(tr("Pimsel checks for new versions in the background and shows an Update button "
                   "in the menu bar when one's ready. Turn off to only check manually.")));
    connect(trailingButton(updates, tr("Check for Updates…")), &QPushButton::clicked, updater,
            [updater] { QMetaObject::invokeMethod(updater, "checkForUpdates"); });
}

QLabel* GeneralPreferencesPane::addPermissionRow(QVBoxLayout* section, const QString& title,
                                                 const QString& text) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* words = new QVBoxLayout;
    words->setSpacing(2);
    auto* name = new QLabel(title);
    name->setFont(palette::textFont(13));
    words->addWidget(name);
    words->addWidget(caption(text));
    layout->addLayout(words, 1);
    auto* icon = new QLabel;
    icon->setObjectName(QStringLiteral("stateIcon"));
    auto* state = new QLabel;
    state->setFont(palette::textFont(12));
    layout->addWidget(icon);
    layout->addWidget(state);
    section->addWidget(row);
    return state;
}

void GeneralPreferencesPane::rereadPermissions() {
    showState(m_accessibility, m_permissions.accessibilityGranted());
    showState(m_inputMonitoring, m_permissions.inputMonitoringGranted());
}

QString GeneralPreferencesPane::accessibilityState() const {
    return m_accessibility->text();
}

QString GeneralPreferencesPane::inputMonitoringState() const {
    return m_inputMonitoring->text();
}

} // namespace pimsel
