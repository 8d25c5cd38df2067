#pragma once

#include "ui/onboarding_view_model.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace pimsel {

class ToggleSwitch;

// The onboarding window's content: the logo and welcome, the two permission steps, a field to try
// Pimsel in at once, the automatic update switch and a word on privacy. It re-reads its model on
// every change and sends the user's requests back through it.
class OnboardingView : public QWidget {
    Q_OBJECT

public:
    static constexpr QSize windowSize{460, 656};

    explicit OnboardingView(OnboardingViewModel& model, QWidget* parent = nullptr);

    QLineEdit* tryField() const { return m_tryField; }
    ToggleSwitch* updateToggle() const { return m_updateToggle; }
    // The parts of step `step`: the two buttons shown while it is missing, the note on why it cannot
    // be requested (empty when it can), and the "Granted" mark.
    QPushButton* requestButton(OnboardingViewModel::Step step) const;
    QPushButton* settingsButton(OnboardingViewModel::Step step) const;
    QLabel* problemLabel(OnboardingViewModel::Step step) const;
    QLabel* grantedLabel(OnboardingViewModel::Step step) const;

public Q_SLOTS:
    void refresh();

private:
    struct Row {
        QWidget* badge = nullptr;
        QLabel* problem = nullptr;
        QWidget* buttons = nullptr;
        QPushButton* request = nullptr;
        QPushButton* settings = nullptr;
        QLabel* granted = nullptr;
    };
    QWidget* makeRow(OnboardingViewModel::Step step, const QString& title, const QString& caption);
    const Row& row(OnboardingViewModel::Step step) const { return m_rows[int(step) - 1]; }

    OnboardingViewModel& m_model;
    Row m_rows[2];
    QLineEdit* m_tryField = nullptr;
    ToggleSwitch* m_updateToggle = nullptr;
};

} // namespace pimsel
