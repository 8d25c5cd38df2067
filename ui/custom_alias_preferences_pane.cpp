#include "ui/custom_alias_preferences_pane.h"

#include "engine/settings_store.h"
#include "ui/palette.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace pimsel {

CustomAliasPreferencesPane::CustomAliasPreferencesPane(SettingsStore& settings, QWidget* parent)
    : preferences::Form(parent)
    , m_settings(settings)
    , m_alias(new QLineEdit)
    , m_emoji(new QLineEdit)
    , m_add(new QPushButton(tr("Add"))) {
    QVBoxLayout* entry = addSection(tr("Custom Aliases"));
    entry->addWidget(preferences::caption(tr("Map your own shortcut to any emoji.")));
    m_alias->setPlaceholderText(tr("alias (e.g. shrug)"));
    m_emoji->setPlaceholderText(tr("emoji"));
    m_emoji->setFixedWidth(90);
    auto* row = new QHBoxLayout;
    row->addWidget(m_alias, 1);
    row->addWidget(m_emoji);
    row->addWidget(m_add);
    entry->addLayout(row);
    connect(m_add, &QPushButton::clicked, this, &CustomAliasPreferencesPane::add);
    connect(m_alias, &QLineEdit::returnPressed, this, &CustomAliasPreferencesPane::add);
    connect(m_emoji, &QLineEdit::returnPressed, this, &CustomAliasPreferencesPane::add);

    m_list = addSection();
    connect(&m_settings, &SettingsStore::customAliasesChanged, this,
            &CustomAliasPreferencesPane::rebuildList);
    rebuildList();
}

void CustomAliasPreferencesPane::add() {
    const QString alias = m_alias->text().trimmed();
    const QString emoji = m_emoji->text().trimmed();
    if (alias.isEmpty() || emoji.isEmpty())
        return;
    QList<CustomAlias> aliases = m_settings.customAliases();
    aliases.append({QUuid::createUuid(), alias, emoji});
    m_settings.setCustomAliases(aliases);
    m_alias->clear();
    m_emoji->clear();
}

QList<QAbstractButton*> CustomAliasPreferencesPane::removeButtons() const {
    QList<QAbstractButton*> buttons;
    for (int i = 0; i < m_list->count(); ++i) {
        if (QWidget* row = m_list->itemAt(i)->widget())
            buttons.append(row->findChild<QToolButton*>());
    }
    return buttons;
}

void CustomAliasPreferencesPane::rebuildList() {
    // Later: the click that removes an alias is still being delivered to its row's button.
    while (QLayoutItem* item = m_list->takeAt(0)) {
        item->widget()->hide();
        item->widget()->deleteLater();
        delete item;
    }
    const QList<CustomAlias>& aliases = m_settings.customAliases();
    m_list->parentWidget()->setVisible(!aliases.isEmpty());
    for (const CustomAlias& alias : aliases) {
        auto* row = new QWidget;
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* emoji = new QLabel(alias.emoji);
        emoji->setFont(palette::emojiFont(18));
        emoji->setFixedWidth(28);
        auto* name = new QLabel(QStringLiteral(":") + alias.alias);
        name->setFont(palette::textFont(13));
        auto* remove = new QToolButton;
        remove->setIcon(preferences::symbol(QStringLiteral("user-trash")));
        remove->setToolTip(tr("Remove :%1").arg(alias.alias));
        remove->setAccessibleName(remove->toolTip());
        const QUuid id = alias.id;
        connect(remove, &QToolButton::clicked, this, [this, id] {
            QList<CustomAlias> kept = m_settings.customAliases();
            kept.removeIf([&id](const CustomAlias& a) { return a.id == id; });
            m_settings.setCustomAliases(kept);
        });
        layout->addWidget(emoji);
        layout->addWidget(name, 1);
        layout->addWidget(remove);
        m_list->addWidget(row);
    }
}

} // namespace pimsel
