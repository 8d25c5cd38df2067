#include "ui/key_panel.h"

#include "ui/palette.h"

#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QVBoxLayout>

namespace pimsel {

KeyPanel::KeyPanel(QWidget* parent)
    : QWidget(parent) {
    resignCheck_.setSingleShot(true);
    resignCheck_.setInterval(resignGraceMs);
    connect(&resignCheck_, &QTimer::timeout, this, [this] {
        if (isVisible() && !isActiveWindow())
            Q_EMIT resignedKey();
    });
}

void KeyPanel::setContent(QWidget* content, QSize size) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(content);
    setFixedSize(size);
    setFocusPolicy(Qt::NoFocus);
    palette::applyDarkAppearance(this);
    setAutoFillBackground(true);
}

bool KeyPanel::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress:
        if (ownKeys)
            ownKeys(static_cast<const QKeyEvent&>(*event));
        event->accept();
        return true;
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::InputMethod:
        // Already applied through the input hook.
        event->accept();
        return true;
    case QEvent::WindowDeactivate:
        if (isVisible() && shown_.isValid() && shown_.elapsed() < settleMs)
            resignCheck_.start();
        else if (isVisible())
            Q_EMIT resignedKey();
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

void KeyPanel::setUpFloating(const QString& title) {
    // Its own content draws the whole window.
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setWindowTitle(title);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAttribute(Qt::WA_QuitOnClose, false);
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    if (screen != nullptr) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void KeyPanel::takeKeyboard(const WindowActivation& activation) {
    raise();
    activateWindow();
    // Window managers that guard against focus stealing still honour a pager's request.
    if (activation.activate)
        activation.activate(static_cast<quint32>(winId()));
}

void KeyPanel::showEvent(QShowEvent* event) {
    shown_.start();
    QWidget::showEvent(event);
}

void KeyPanel::closeEvent(QCloseEvent* event) {
    // The window is kept for the next opening; closing it is a dismissal.
    event->ignore();
    Q_EMIT closeRequested();
}

} // namespace pimsel
