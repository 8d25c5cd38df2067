#pragma once

#include "engine/ports.h"

#include <QObject>
#include <QString>

#include <optional>

namespace pimsel {

// The frontmost application as the status monitor and the composition root follow it:
// its identifier, a human-readable name for any identifier, and a signal when another
// application comes to the front.
class ApplicationWatching : public QObject, public FrontmostApplicationProviding {
    Q_OBJECT

public:
    using QObject::QObject;

    // None when no application with this identifier can be located or it has no name.
    virtual std::optional<QString> displayName(const QString& appId) const = 0;

Q_SIGNALS:
    // `appId` is empty when the new frontmost window has no identifier.
    void frontmostApplicationChanged(const QString& appId);
};

} // namespace pimsel
