#pragma once

#include "platform/application_directory.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <memory>

namespace pimsel {

class EmojiStore;
class PermissionsController;
class PreferencesView;
class SettingsStore;
class UpdateController;

// Owns the preferences window: an ordinary titled window of 680 × 540 on ink, made on the first
// show and kept for the life of the process; closing it only hides it.
class PreferencesWindowController : public QObject {
    Q_OBJECT

public:
    static constexpr int windowWidth = 680;
    static constexpr int windowHeight = 540;

    // Every collaborator must outlive the controller; `updates` may be null (no updater).
    // `applications` null: the live desktop's.
    PreferencesWindowController(SettingsStore& settings, PermissionsController& permissions,
                                EmojiStore& emoji, UpdateController* updates,
                                std::unique_ptr<ApplicationDirectory> applications = nullptr,
                                QObject* parent = nullptr);
    ~PreferencesWindowController() override;

    // Creates the window the first time, then brings it to the front with the keyboard focus.
    void show();
    // Null until the first show.
    QWidget* window() const { return m_window; }
    PreferencesView* view() const { return m_view; }

Q_SIGNALS:
    // "Open Setup…" in the General pane.
    void openSetupRequested();

private:
    void create();

    SettingsStore& m_settings;
    PermissionsController& m_permissions;
    EmojiStore& m_emoji;
    UpdateController* m_updates;
    std::unique_ptr<ApplicationDirectory> m_applications;
    QPointer<QWidget> m_window;
    PreferencesView* m_view = nullptr;
};

} // namespace pimsel
