#include "ui/preferences_form.h"

#include "engine/resources.h"
#include "ui/palette.h"

#include <QAbstractButton>
#include <QFile>
#include <QLabel>
#include <QMetaProperty>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace pimsel::preferences {

namespace {
constexpr int switchWidth = 32;
constexpr int switchHeight = 18;
constexpr int rowHeight = 28;
} // namespace

QIcon symbol(const QString& name) {
    ensureResources();
    const QString shipped = QStringLiteral(":/pimsel/icons/%1.svg").arg(name);
    return QIcon::fromTheme(name, QFile::exists(shipped) ? QIcon(shipped) : QIcon());
}

QIcon applicationIcon(const QString& iconName) {
    const QIcon icon = iconName.startsWith(u'/') ? QIcon(iconName) : QIcon::fromTheme(iconName);
    return icon.isNull() ? symbol(QStringLiteral("application-x-executable")) : icon;
}

QLabel* caption(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setFont(palette::textFont(11));
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setProperty("role", QStringLiteral("caption"));
    return label;
}

QString controlStyle() {
    using namespace palette;
    // Colours are given here rather than by palette: a style sheet on an ancestor would otherwise
    // hand some widgets the desktop's light palette back.
    return QStringLiteral(
               "QLabel { color: %2; background: transparent; }"
               "QLabel[role=\"caption\"] { color: %10; }"
               "QScrollArea, QScrollArea > QWidget, QWidget#formContent { background: %11; border: none; }"
               "QFrame#card { background: %8; border-radius: %12px; }"
               "QScrollBar:vertical { background: transparent; width: 8px; margin: 2px; }"
               "QScrollBar::handle:vertical { background: %3; border-radius: 2px; min-height: 24px; }"
               "QScrollBar::add-line, QScrollBar::sub-line, QScrollBar::add-page, QScrollBar::sub-page"
               " { height: 0; background: none; }"
               "QLineEdit { background: %1; color: %2; border: 1px solid %3; border-radius: 6px;"
               " padding: 4px 6px; font-size: 13px; selection-background-color: %4; }"
               "QLineEdit:focus { border-color: %4; }"
               "QPushButton { background: %1; color: %2; border: 1px solid %5; border-radius: %6px;"
               " padding: 4px 12px; font-size: 13px; }"
               "QPushButton:pressed { background: %7; }"
               "QPushButton::menu-indicator { width: 0; }"
               "QToolButton { background: transparent; border: none; padding: 2px; }"
               "QComboBox { background: %1; color: %2; border: 1px solid %5; border-radius: 6px;"
               " padding: 3px 8px; font-size: 13px; }"
               "QComboBox QAbstractItemView, QMenu, QListWidget { background: %8; color: %2;"
               " selection-background-color: %9; selection-color: %2; border: 1px solid %3; }"
               "QMenu::item { padding: 4px 18px; } QMenu::item:selected { background: %9; }")
        .arg(css(inkHigh), css(cream), css(hairline()), css(accent), css(withOpacity(cream, 0.22)))
        .arg(cornerSmall)
        .arg(css(withOpacity(inkHigh, 0.6)), css(inkRaised), css(accentWash()), css(creamSecondary()),
             css(ink))
        .arg(cornerMedium);
}

Switch::Switch(const QString& text, QWidget* parent)
    : QAbstractButton(parent) {
    setText(text);
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFont(palette::textFont(13));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void Switch::bind(QObject* source, const char* property) {
    m_source = source;
    m_property = property;
    const QMetaProperty meta =
        source->metaObject()->property(source->metaObject()->indexOfProperty(property));
    Q_ASSERT(meta.isValid() && meta.hasNotifySignal());
    connect(source, meta.notifySignal(), this, metaObject()->method(metaObject()->indexOfSlot("reread()")));
    connect(this, &QAbstractButton::clicked, this, [this](bool checked) {
        if (m_source)
            m_source->setProperty(m_property.constData(), checked);
        reread();
    });
    reread();
}

void Switch::reread() {
    if (m_source)
        setChecked(m_source->property(m_property.constData()).toBool());
}

QSize Switch::sizeHint() const {
    return {fontMetrics().horizontalAdvance(text()) + switchWidth + 16, rowHeight};
}

void Switch::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF pill(width() - switchWidth - 1, (height() - switchHeight) / 2.0, switchWidth, switchHeight);
    p.setPen(isEnabled() ? palette::cream : palette::creamTertiary());
    p.drawText(rect().adjusted(0, 0, -switchWidth - 12, 0), Qt::AlignVCenter | Qt::AlignLeft, text());
    p.setPen(Qt::NoPen);
    p.setBrush(isChecked() ? palette::accent : palette::withOpacity(palette::cream, 0.18));
    p.drawRoundedRect(pill, switchHeight / 2.0, switchHeight / 2.0);
    const qreal knob = switchHeight - 4;
    const qreal x = isChecked() ? pill.right() - knob - 2 : pill.left() + 2;
    p.setBrush(isChecked() ? palette::ink : palette::cream);
    p.drawEllipse(QRectF(x, pill.top() + 2, knob, knob));
}

Form::Form(QWidget* parent)
    : QScrollArea(parent) {
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("formContent"));
    m_sections = new QVBoxLayout(content);
    m_sections->setContentsMargins(20, 18, 20, 18);
    m_sections->setSpacing(6);
    m_sections->addStretch(1);
    setWidget(content);
}

QVBoxLayout* Form::addSection(const QString& title) {
    const int at = m_sections->count() - 1; // before the stretch
    int inserted = 0;
    if (!title.isEmpty()) {
        auto* heading = new QLabel(title);
        heading->setFont(palette::textFont(13, QFont::DemiBold));
        heading->setContentsMargins(4, m_sections->count() > 1 ? 12 : 0, 0, 2);
        m_sections->insertWidget(at + inserted++, heading);
    }
    auto* card = new QFrame;
    card->setObjectName(QStringLiteral("card"));
    auto* rows = new QVBoxLayout(card);
    rows->setContentsMargins(12, 8, 12, 10);
    rows->setSpacing(6);
    m_sections->insertWidget(at + inserted, card);
    return rows;
}

QStringList Form::texts() const {
    QStringList all;
    for (const QLabel* label : widget()->findChildren<QLabel*>())
        all.append(label->text());
    for (const QAbstractButton* button : widget()->findChildren<QAbstractButton*>())
        all.append(button->text());
    return all;
}

} // namespace pimsel::preferences
