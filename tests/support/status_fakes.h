#pragma once

// What an activation status is judged from: the settings, the exclusion rules, and stand-ins for the
// frontmost application and the focused field.

#include "engine/ports.h"
#include "engine/settings_store.h"
#include "platform/app_exclusion_manager.h"
#include "platform/application_watching.h"

#include <QHash>
#include <QSettings>
#include <QTemporaryDir>
#include <QUrl>

namespace pimsel::testing {

class FakeApplications : public ApplicationWatching {
public:
    std::optional<QString> frontmostApplicationId() const override { return frontmost; }
    std::optional<QString> displayName(const QString& appId) const override {
        return names.contains(appId) ? std::optional(names.value(appId)) : std::nullopt;
    }
    void bringToFront(const std::optional<QString>& id) {
        frontmost = id;
        Q_EMIT frontmostApplicationChanged(id.value_or(QString()));
    }
    std::optional<QString> frontmost;
    QHash<QString, QString> names;
};

class FakeFocus : public FocusContextProviding {
public:
    bool isSecureFieldFocused() override { return false; }
    std::optional<QRect> caretRect() override { return std::nullopt; }
    std::optional<QUrl> currentBrowserURL() override { return ++urlReads, url; }
    std::optional<QUrl> url;
    int urlReads = 0;
};

struct StatusSurroundings {
    QTemporaryDir dir;
    QSettings defaults{dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat};
    SettingsStore settings{&defaults};
    AppExclusionManager exclusions{settings};
    FakeApplications apps;
    FakeFocus focus;
};

} // namespace pimsel::testing
