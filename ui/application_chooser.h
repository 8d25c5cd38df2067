#pragma once

#include "platform/application_directory.h"

#include <QDialog>

class QLineEdit;
class QListWidget;
class QPushButton;

namespace pimsel {

// A searchable list of the installed applications, to pick one to switch Pimsel off in.
class ApplicationChooser : public QDialog {
    Q_OBJECT

public:
    ApplicationChooser(const QList<DisableableApp>& apps, QWidget* parent = nullptr);

    QLineEdit* searchField() const { return m_search; }
    QListWidget* list() const { return m_list; }
    QPushButton* confirmButton() const { return m_confirm; }
    // The identifier of the selected application; empty when none.
    QString chosenId() const;

private:
    void filter(const QString& text);

    QLineEdit* m_search;
    QListWidget* m_list;
    QPushButton* m_confirm;
};

} // namespace pimsel
