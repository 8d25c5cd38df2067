#pragma once

// The pieces every preferences pane is made of: a scrolled, grouped form on ink whose sections hold
// their rows on raised cards, on/off switches, captions and symbols.

#include <QAbstractButton>
#include <QIcon>
#include <QScrollArea>
#include <QString>

class QLabel;
class QVBoxLayout;

namespace pimsel::preferences {

// A symbol by its freedesktop icon name; the copy shipped with Pimsel where the theme has none.
QIcon symbol(const QString& name);

// An application's icon by the name or path its desktop entry gives; a generic one without.
QIcon applicationIcon(const QString& iconName);

// Secondary text under a control, wrapped to the card's width.
QLabel* caption(const QString& text, QWidget* parent = nullptr);

// The style sheet of the preferences window's own controls (fields, buttons, lists, menus).
QString controlStyle();

// An on/off switch that fills its row: the title on the left, the pill on the right; a click
// anywhere on the row flips it. The title is its accessible name.
class Switch : public QAbstractButton {
    Q_OBJECT

public:
    explicit Switch(const QString& text = {}, QWidget* parent = nullptr);

    // Shows the boolean `property` of `source` from now on, re-read on its NOTIFY signal, and
    // writes each click to it; the switch keeps no value of its own, so a write that did not take
    // (a login item that could not be registered) shows as it really is.
    void bind(QObject* source, const char* property);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private Q_SLOTS:
    void reread();

private:
    QObject* m_source = nullptr;
    QByteArray m_property;
};

class Form : public QScrollArea {
    Q_OBJECT

public:
    explicit Form(QWidget* parent = nullptr);

    // A new section, titled unless `title` is empty; its rows go into the returned layout.
    QVBoxLayout* addSection(const QString& title = {});
    // The text of every label and button in the form, for the checks that words stay true.
    QStringList texts() const;

private:
    QVBoxLayout* m_sections;
};

} // namespace pimsel::preferences
