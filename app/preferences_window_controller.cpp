#include "app/preferences_window_controller.h"

#include "app/update_controller.h"
#include "platform/application_directory.h"
#include "stickers/sticker_config.h"
#include "ui/general_preferences_pane.h"
#include "ui/palette.h"
#include "ui/preferences_view.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

namespace pimsel {

PreferencesWindowController::PreferencesWindowController(SettingsStore& settings,
                                                         PermissionsController& permissions,
                                                         EmojiStore& emoji, UpdateController* updates,
                                                         std::unique_ptr<ApplicationDirectory> applications,
                                                         QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_permissions(permissions)
    , m_emoji(emoji)
    , m_updates(updates)
    , m_applications(applications ? std::move(applications)
                                  : std::make_unique<DesktopApplicationDirectory>()) {}

PreferencesWindowController::~PreferencesWindowController() {
    delete m_window;
}

void PreferencesWindowController::create() {
    const StickerServiceConfig stickers = StickerServiceConfig::fromBuildAndEnvironment();
    const PreferencesServices services{m_settings,
                                       m_permissions,
                                       m_emoji,
                                       *m_applications,
                                       m_updates,
                                       !stickers.giphyApiKey.trimmed().isEmpty() && stickers.giphyApi,
                                       [](const QUrl& url) { QDesktopServices::openUrl(url); }};
    m_window = new QWidget(nullptr, Qt::Window);
    m_window->setWindowTitle(tr("Pimsel Preferences"));
    m_window->setFixedSize(windowWidth, windowHeight);
    palette::applyDarkAppearance(m_window);
    m_window->setAutoFillBackground(true);
    m_view = new PreferencesView(services, m_window);
    auto* layout = new QVBoxLayout(m_window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    connect(m_view->general(), &GeneralPreferencesPane::openSetupRequested, this,
            &PreferencesWindowController::openSetupRequested);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        m_window->move(screen->availableGeometry().center() - m_window->rect().center());
}

void PreferencesWindowController::show() {
    if (!m_window)
        create();
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

} // namespace pimsel
