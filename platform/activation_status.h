#pragma once

#include <QMetaType>
#include <QObject>
#include <QString>

namespace pimsel {

// Whether autocomplete works in the frontmost application right now, and why not if it does not.
// Two values are equal when kind and detail are equal.
struct ActivationStatus {
    Q_GADGET
    Q_PROPERTY(Kind kind MEMBER kind)
    Q_PROPERTY(QString detail MEMBER detail)

public:
    enum class Kind { active, disabledGlobally, disabledInApp, disabledOnSite, inputLost };
    Q_ENUM(Kind)

    Kind kind = Kind::active;
    // The application's display name for disabledInApp, the normalised host for disabledOnSite.
    QString detail;

    static ActivationStatus active() { return {}; }
    static ActivationStatus disabledGlobally() { return {Kind::disabledGlobally, {}}; }
    static ActivationStatus disabledInApp(const QString& name) { return {Kind::disabledInApp, name}; }
    static ActivationStatus disabledOnSite(const QString& host) { return {Kind::disabledOnSite, host}; }
    // The keyboard hook lost its display connection and is being installed again.
    static ActivationStatus inputLost() { return {Kind::inputLost, {}}; }

    bool isActive() const { return kind == Kind::active; }
    bool operator==(const ActivationStatus&) const = default;
};

} // namespace pimsel

Q_DECLARE_METATYPE(pimsel::ActivationStatus)
