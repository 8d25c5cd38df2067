#pragma once

// Stand-ins for the frontmost application and the focused field behind the activation status.

#include "engine/ports.h"
#include "platform/application_watching.h"

#include <QHash>
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

} // namespace pimsel::testing
