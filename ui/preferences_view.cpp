#include "ui/preferences_view.h"

#include "ui/custom_alias_preferences_pane.h"
#include "ui/general_preferences_pane.h"
#include "ui/other_projects_pane.h"
#include "ui/palette.h"
#include "ui/preferences_form.h"
#include "ui/privacy_preferences_pane.h"
#include "ui/shortcuts_preferences_pane.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QPainter>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace pimsel {

namespace {

constexpr int symbolBox = 18;

QString symbolName(PreferencesView::Section section) {
    switch (section) {
    case PreferencesView::Section::general:
        return QStringLiteral("preferences-system");
    case PreferencesView::Section::shortcuts:
        return QStringLiteral("input-keyboard");
    case PreferencesView::Section::custom:
        return QStringLiteral("face-smile");
    case PreferencesView::Section::privacy:
        return QStringLiteral("changes-prevent");
    case PreferencesView::Section::otherProjects:
        return QStringLiteral("view-grid");
    }
    return {};
}

// A sidebar row: the section's symbol and title on the accent wash while selected.
class SidebarButton : public QAbstractButton {
public:
    SidebarButton(PreferencesView::Section section, QWidget* parent)
        : QAbstractButton(parent)
        , m_icon(preferences::symbol(symbolName(section))) {
        setText(PreferencesView::title(section));
        setCheckable(true);
        setFont(palette::textFont(13, QFont::Medium));
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
    QSize sizeHint() const override {
        return {10 + symbolBox + 9 + fontMetrics().horizontalAdvance(text()) + 10,
                7 + std::max(symbolBox, fontMetrics().height()) + 7};
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        if (isChecked()) {
            p.setPen(Qt::NoPen);
            p.setBrush(palette::accentWash());
            p.drawRoundedRect(QRectF(rect()), palette::cornerSmall, palette::cornerSmall);
        }
        const QRect box(10, (height() - symbolBox) / 2, symbolBox, symbolBox);
        m_icon.paint(&p, box.adjusted(1, 1, -1, -1));
        p.setPen(palette::cream);
        p.drawText(QRect(box.right() + 1 + 9, 0, width(), height()), Qt::AlignVCenter | Qt::AlignLeft,
                   text());
    }

private:
    QIcon m_icon;
};

// A one-pixel hairline between the sidebar and the pane.
class Divider : public QWidget {
public:
    using QWidget::QWidget;
    QSize sizeHint() const override { return {1, 1}; }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), palette::hairline()); }
};

} // namespace

QString PreferencesView::title(Section section) {
    switch (section) {
    case Section::general:
        return tr("General");
    case Section::shortcuts:
        return tr("Shortcuts");
    case Section::custom:
        return tr("Custom");
    case Section::privacy:
        return tr("Privacy");
    case Section::otherProjects:
        return tr("Other Projects");
    }
    return {};
}

PreferencesView::PreferencesView(const PreferencesServices& services, QWidget* parent)
    : QWidget(parent)
    , m_stack(new QStackedWidget(this))
    , m_general(new GeneralPreferencesPane(services.settings, services.permissions, services.updater))
    , m_shortcuts(new ShortcutsPreferencesPane(services.settings, services.gifSearchAvailable))
    , m_custom(new CustomAliasPreferencesPane(services.settings))
    , m_privacy(new PrivacyPreferencesPane(services.settings, services.emoji, services.applications))
    , m_otherProjects(new OtherProjectsPane(services.openUrl)) {
    palette::applyDarkAppearance(this);
    setAutoFillBackground(true);
    setStyleSheet(preferences::controlStyle());

    auto* sidebar = new QWidget(this);
    sidebar->setFixedWidth(sidebarWidth);
    auto* buttons = new QVBoxLayout(sidebar);
    buttons->setContentsMargins(12, 12, 12, 12);
    buttons->setSpacing(4);
    for (const Section section :
         {Section::general, Section::shortcuts, Section::custom, Section::privacy, Section::otherProjects}) {
        auto* button = new SidebarButton(section, sidebar);
        connect(button, &QAbstractButton::clicked, this, [this, section] { setSelection(section); });
        buttons->addWidget(button);
        m_sidebar.append(button);
    }
    buttons->addStretch(1);
    for (QWidget* pane :
         std::initializer_list<QWidget*>{m_general, m_shortcuts, m_custom, m_privacy, m_otherProjects})
        m_stack->addWidget(pane);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(sidebar);
    layout->addWidget(new Divider(this));
    layout->addWidget(m_stack, 1);
    m_sidebar.front()->setChecked(true);
}

void PreferencesView::setSelection(Section section) {
    const int index = static_cast<int>(section);
    for (int i = 0; i < m_sidebar.size(); ++i)
        m_sidebar.at(i)->setChecked(i == index);
    if (section == m_selection)
        return;
    m_selection = section;
    m_stack->setCurrentIndex(index);
    Q_EMIT selectionChanged(section);
}

QAbstractButton* PreferencesView::sidebarButton(Section section) const {
    return m_sidebar.value(static_cast<int>(section));
}

} // namespace pimsel
