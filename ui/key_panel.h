#pragma once

#include "ui/window_activation.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <functional>

class QKeyEvent;

namespace pimsel {

// A panel's top-level window. It takes the keyboard while open, yet applies no key itself unless
// told to: the keys reach its model through the input hook, which sees them whatever window has
// the focus, so handling them here too would apply every key twice.
class KeyPanel : public QWidget {
    Q_OBJECT

public:
    explicit KeyPanel(QWidget* parent = nullptr);
    // While set, the window's own key presses go here: no input hook delivers them (an input
    // method handles the keys, or the session has no hook).
    std::function<void(const QKeyEvent&)> ownKeys;
    // Just after it shows, the panel may be without the keyboard for a moment before that counts
    // as lost: the key that opened it is often still held under the input hook's grab as the
    // window takes the keyboard, and its release moves the focus away and straight back. Later,
    // a loss is a loss at once.
    static constexpr int settleMs = 500;
    static constexpr int resignGraceMs = 60;

    // A floating utility window without decorations, kept when closed, centred once on the screen
    // under the pointer; where the user moves it, it stays for later openings.
    void setUpFloating(const QString& title);
    // Raises the panel and takes the keyboard.
    void takeKeyboard(const WindowActivation& activation);

Q_SIGNALS:
    // The panel lost the keyboard, or the window manager asked to close it.
    void resignedKey();
    void closeRequested();

protected:
    // `content` fills the panel, which takes `size`.
    void setContent(QWidget* content, QSize size);
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QTimer resignCheck_;
    QElapsedTimer shown_;
};

} // namespace pimsel
