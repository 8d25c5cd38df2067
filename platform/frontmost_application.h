#pragma once

#include "platform/application_watching.h"
#include "platform/focus_context_provider.h"

#include <QIcon>
#include <QRect>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

class QSocketNotifier;

namespace pimsel {

class DesktopEntryIndex;

// The application of the active X11 window (_NET_ACTIVE_WINDOW), followed through PropertyNotify
// on the root window. Everything the coordinator asks on each keystroke is cached; pending X
// events are read without a round trip before answering, so a switch is seen even before the
// event loop has run.
class FrontmostApplication : public ApplicationWatching {
    Q_OBJECT

public:
    // Opens its own connection to the display named by DISPLAY; without one every answer is none.
    explicit FrontmostApplication(QObject* parent = nullptr);
    ~FrontmostApplication() override;

    bool hasDisplay() const;

    std::optional<QString> frontmostApplicationId() const override;
    std::optional<quint64> frontmostWindow() const override;
    std::optional<QString> displayName(const QString& appId) const override;
    QIcon icon(const QString& appId) const;

    // The active window (0 when none) and the process that owns it.
    std::uint32_t activeWindow() const;
    std::optional<qint64> activeProcessId() const;
    // The active window's rectangle on screen (asked of the server each time: windows move).
    std::optional<QRect> activeWindowGeometry() const;
    // The active window as the focus queries need it; `this` must outlive their use.
    FocusContextProvider::ActiveWindow activeWindowSource() const;

    // Asks the window manager to activate `window`, as a pager would.
    void activateWindow(std::uint32_t window);

private:
    struct X;
    void pump() const;
    void reload(bool announce) const;
    const DesktopEntryIndex& desktopEntries() const;

    std::unique_ptr<X> m_x;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace pimsel
