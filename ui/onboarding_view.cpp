#include "ui/onboarding_view.h"

#include "ui/palette.h"
#include "ui/toggle_switch.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSvgRenderer>
#include <QVBoxLayout>

namespace pimsel {

namespace {

using Step = OnboardingViewModel::Step;

constexpr int logoSide = 92;
constexpr int badgeSide = 24;

// The shared button styles: the primary one filled with accent, the secondary one a raised ink
// fill inside a faint cream rim; both dim or deepen while pressed.
const char* const buttonStyles = R"(
QPushButton { font-size: 13px; padding: 7px 14px; border-radius: 7px; }
QPushButton#primary { color: #0B0B0B; background: #CCF743; border: none; font-weight: 600; }
QPushButton#primary:pressed { background: rgba(204, 247, 67, 209); }
QPushButton#secondary { color: #FBF6EC; background: rgba(31, 31, 31, 153); font-weight: 500;
                        border: 1px solid rgba(251, 246, 236, 56); }
QPushButton#secondary:pressed { background: #1F1F1F; }
QLineEdit { color: #FBF6EC; background: #161616; border: 1px solid rgba(251, 246, 236, 26);
            border-radius: 7px; padding: 7px 10px; font-size: 14px;
            selection-background-color: #CCF743; selection-color: #0B0B0B; }
QLineEdit:focus { border-color: rgba(204, 247, 67, 140); }
)";

QString colour(const QColor& c) {
    return QStringLiteral("rgba(%1, %2, %3, %4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alpha());
}

QLabel* makeLabel(const QString& text, int pixelSize, QFont::Weight weight, const QColor& color,
                  bool wrap = false) {
    auto* label = new QLabel(text);
    label->setFont(palette::textFont(pixelSize, weight));
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, color);
    label->setPalette(p);
    label->setWordWrap(wrap);
    return label;
}

// The application's artwork on a raised tile, drawn at whatever size the header gives it.
class LogoMark : public QWidget {
public:
    LogoMark()
        : m_renderer(QStringLiteral(":/pimsel/LogoMark.svg")) {
        setFixedSize(logoSide, logoSide);
        setAccessibleName(QStringLiteral("Pimsel"));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        m_renderer.render(&p, QRectF(rect()));
    }

private:
    QSvgRenderer m_renderer;
};

// The step number on raised ink while the permission is missing; a check mark cut in ink from an
// accent disc once it is granted.
class StepBadge : public QWidget {
public:
    explicit StepBadge(int number)
        : m_number(number) {
        setFixedSize(badgeSide, badgeSide);
    }
    void setGranted(bool granted) {
        if (granted == m_granted)
            return;
        m_granted = granted;
        setAccessibleName(granted ? tr("Granted") : tr("Step %1").arg(m_number));
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF disc = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        if (m_granted) {
            p.setPen(Qt::NoPen);
            p.setBrush(palette::accent);
            p.drawEllipse(disc);
            QPainterPath check;
            check.moveTo(disc.left() + 0.28 * disc.width(), disc.top() + 0.52 * disc.height());
            check.lineTo(disc.left() + 0.44 * disc.width(), disc.top() + 0.67 * disc.height());
            check.lineTo(disc.left() + 0.72 * disc.width(), disc.top() + 0.35 * disc.height());
            p.setPen(QPen(palette::ink, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.setBrush(Qt::NoBrush);
            p.drawPath(check);
            return;
        }
        p.setPen(QPen(palette::hairline(), 1));
        p.setBrush(palette::inkHigh);
        p.drawEllipse(disc);
        p.setPen(palette::cream);
        p.setFont(palette::textFont(12, QFont::DemiBold));
        p.drawText(rect(), Qt::AlignCenter, QString::number(m_number));
    }

private:
    int m_number;
    bool m_granted = true; // the first setGranted(false) names it
};

// A card of raised ink with rounded corners, the permission rows' background.
class Card : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(palette::hairline(), 1));
        p.setBrush(palette::inkRaised);
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), palette::cornerMedium,
                          palette::cornerMedium);
    }
};

} // namespace

OnboardingView::OnboardingView(OnboardingViewModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model) {
    palette::applyDarkAppearance(this);
    setAutoFillBackground(true);
    setStyleSheet(QString::fromLatin1(buttonStyles));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 40, 28, 28);
    layout->setSpacing(20);

    auto* header = new QHBoxLayout;
    header->setSpacing(16);
    header->addWidget(new LogoMark, 0, Qt::AlignVCenter);
    auto* welcome = new QVBoxLayout;
    welcome->setSpacing(4);
    welcome->addStretch();
    welcome->addWidget(makeLabel(tr("Welcome to Pimsel"), 24, QFont::Bold, palette::cream));
    welcome->addWidget(makeLabel(tr("Colon emoji shortcuts now work in every text field on your desktop."),
                                 13, QFont::Normal, palette::creamSecondary(), true));
    welcome->addStretch();
    header->addLayout(welcome, 1);
    layout->addLayout(header);

    auto* steps = new QVBoxLayout;
    steps->setSpacing(10);
    steps->addWidget(makeRow(Step::accessibility, tr("Accessibility"),
                             tr("Lets Pimsel detect the active text field and insert the selected emoji.")));
    steps->addWidget(makeRow(Step::inputMonitoring, tr("Input Monitoring"),
                             tr("Lets Pimsel detect when you type emoji shortcuts like :lizard:.")));
    layout->addLayout(steps);

    auto* trySection = new QVBoxLayout;
    trySection->setSpacing(8);
    trySection->addWidget(makeLabel(tr("Try it out"), 14, QFont::DemiBold, palette::cream));
    m_tryField = new QLineEdit;
    m_tryField->setPlaceholderText(tr("Try typing :lizard"));
    m_tryField->setAccessibleName(tr("Try it out"));
    trySection->addWidget(m_tryField);
    const QString secondary = colour(palette::creamSecondary());
    const QString accent = colour(palette::accent);
    auto* instruction =
        makeLabel(QStringLiteral("<span style='color:%1'>%3</span><span style='color:%2'>%4</span>"
                                 "<span style='color:%1'>%5</span><span style='color:%2'>%6</span>"
                                 "<span style='color:%1'>.</span>")
                      .arg(secondary, accent, tr("Type a shortcut like&nbsp;&nbsp;"), QStringLiteral(":liz"),
                           tr("&nbsp;&nbsp;then press "), tr("Tab")),
                  12, QFont::Normal, palette::creamSecondary());
    instruction->setTextFormat(Qt::RichText);
    trySection->addWidget(instruction);
    layout->addLayout(trySection);

    auto* updates = new QHBoxLayout;
    updates->setSpacing(16);
    auto* updateText = new QVBoxLayout;
    updateText->setSpacing(4);
    updateText->addWidget(makeLabel(tr("Keep Pimsel up to date"), 14, QFont::DemiBold, palette::cream));
    updateText->addWidget(makeLabel(tr("Check for new versions in the background and show an Update button "
                                       "when one's ready. You can change this anytime in Preferences."),
                                    12, QFont::Normal, palette::creamSecondary(), true));
    updates->addLayout(updateText, 1);
    m_updateToggle = new ToggleSwitch(tr("Keep Pimsel up to date"));
    updates->addWidget(m_updateToggle, 0, Qt::AlignTop);
    layout->addLayout(updates);
    connect(m_updateToggle, &QAbstractButton::clicked, &m_model, &OnboardingViewModel::autoUpdateToggled);

    layout->addStretch();
    layout->addWidget(makeLabel(tr("Pimsel processes keystrokes locally. Nothing you type is uploaded."), 11,
                                QFont::Normal, palette::creamTertiary(), true));

    connect(&m_model, &OnboardingViewModel::changed, this, &OnboardingView::refresh);
    refresh();
}

QWidget* OnboardingView::makeRow(Step step, const QString& title, const QString& caption) {
    Row& r = m_rows[int(step) - 1];
    auto* card = new Card;
    auto* layout = new QHBoxLayout(card);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(12);
    r.badge = new StepBadge(int(step));
    layout->addWidget(r.badge, 0, Qt::AlignTop);

    auto* text = new QVBoxLayout;
    text->setSpacing(4);
    text->addWidget(makeLabel(title, 14, QFont::DemiBold, palette::cream));
    text->addWidget(makeLabel(caption, 12, QFont::Normal, palette::creamSecondary(), true));
    r.problem = makeLabel(QString(), 12, QFont::Normal, palette::cream, true);
    text->addWidget(r.problem);

    r.buttons = new QWidget;
    auto* buttons = new QHBoxLayout(r.buttons);
    buttons->setContentsMargins(0, 6, 0, 0);
    buttons->setSpacing(8);
    r.request = new QPushButton(tr("Request Access"));
    r.request->setObjectName(QStringLiteral("primary"));
    r.settings = new QPushButton(tr("Open Settings"));
    r.settings->setObjectName(QStringLiteral("secondary"));
    for (QPushButton* button : {r.request, r.settings}) {
        button->setCursor(Qt::PointingHandCursor);
        buttons->addWidget(button);
    }
    buttons->addStretch();
    text->addWidget(r.buttons);
    r.granted = makeLabel(tr("Granted"), 13, QFont::DemiBold, palette::accent);
    text->addWidget(r.granted);
    layout->addLayout(text, 1);

    connect(r.request, &QPushButton::clicked, &m_model,
            [this, step] { Q_EMIT m_model.accessRequested(step); });
    connect(r.settings, &QPushButton::clicked, &m_model,
            [this, step] { Q_EMIT m_model.settingsRequested(step); });
    return card;
}

void OnboardingView::refresh() {
    for (const Step step : {Step::accessibility, Step::inputMonitoring}) {
        const Row& r = row(step);
        const bool granted = m_model.isGranted(step);
        static_cast<StepBadge*>(r.badge)->setGranted(granted);
        r.granted->setVisible(granted);
        const QString route = step == Step::inputMonitoring ? m_model.inputRoute() : QString();
        r.granted->setText(route.isEmpty() ? tr("Granted") : tr("Granted: %1").arg(route));
        r.buttons->setVisible(!granted);
        // Keys cannot be asked for on X11: either the session provides them or it does not, and
        // the row then says what is missing instead of offering a request that cannot succeed.
        const QString problem = step == Step::inputMonitoring ? m_model.inputMonitoringProblem() : QString();
        r.problem->setText(problem);
        r.problem->setVisible(!granted && !problem.isEmpty());
        r.request->setVisible(step == Step::accessibility);
    }
    m_updateToggle->setChecked(m_model.autoUpdate());
    m_updateToggle->setEnabled(m_model.canUpdate());
}

QPushButton* OnboardingView::requestButton(Step step) const {
    return row(step).request;
}
QPushButton* OnboardingView::settingsButton(Step step) const {
    return row(step).settings;
}
QLabel* OnboardingView::problemLabel(Step step) const {
    return row(step).problem;
}
QLabel* OnboardingView::grantedLabel(Step step) const {
    return row(step).granted;
}

} // namespace pimsel
