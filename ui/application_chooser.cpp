#include "ui/application_chooser.h"

#include "ui/palette.h"
#include "ui/preferences_form.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace pimsel {

ApplicationChooser::ApplicationChooser(const QList<DisableableApp>& apps, QWidget* parent)
    : QDialog(parent)
    , m_search(new QLineEdit(this))
    , m_list(new QListWidget(this))
    , m_confirm(new QPushButton(tr("Disable"), this)) {
    setWindowTitle(tr("Choose an app to disable Pimsel in"));
    palette::applyDarkAppearance(this);
    setStyleSheet(preferences::controlStyle());
    resize(380, 440);

    QList<DisableableApp> sorted = apps;
    sortByName(sorted);
    m_list->setIconSize(QSize(20, 20));
    for (const DisableableApp& app : sorted) {
        auto* item = new QListWidgetItem(preferences::applicationIcon(app.iconName), app.name, m_list);
        item->setData(Qt::UserRole, app.id);
        item->setToolTip(app.id);
    }
    m_search->setPlaceholderText(tr("Search"));
    m_search->setClearButtonEnabled(true);
    connect(m_search, &QLineEdit::textChanged, this, &ApplicationChooser::filter);

    auto* cancel = new QPushButton(tr("Cancel"), this);
    m_confirm->setDefault(true);
    m_confirm->setEnabled(false);
    connect(m_list, &QListWidget::currentItemChanged, this,
            [this](QListWidgetItem* item) { m_confirm->setEnabled(item != nullptr && !item->isHidden()); });
    connect(m_list, &QListWidget::itemActivated, this, &QDialog::accept);
    connect(m_confirm, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    buttons->addWidget(m_confirm);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(windowTitle(), this));
    layout->addWidget(m_search);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);
}

QString ApplicationChooser::chosenId() const {
    const QListWidgetItem* item = m_list->currentItem();
    return item != nullptr && !item->isHidden() ? item->data(Qt::UserRole).toString() : QString();
}

void ApplicationChooser::filter(const QString& text) {
    const QString needle = text.trimmed();
    for (int i = 0; i < m_list->count(); ++i) {
        QListWidgetItem* item = m_list->item(i);
        item->setHidden(!needle.isEmpty() && !item->text().contains(needle, Qt::CaseInsensitive) &&
                        !item->data(Qt::UserRole).toString().contains(needle, Qt::CaseInsensitive));
    }
    if (m_list->currentItem() != nullptr && m_list->currentItem()->isHidden())
        m_list->setCurrentItem(nullptr);
}

} // namespace pimsel
