#include "ui/other_projects_pane.h"

#include "ui/palette.h"

#include <QAbstractButton>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QUrlQuery>
#include <QVBoxLayout>

namespace pimsel {

namespace {

constexpr int cardPadding = 12;
constexpr int artworkHeight = 36;

// The whole card is the link.
class ProjectCard : public QAbstractButton {
public:
    ProjectCard(const OtherProjectsPane::Project& project, QWidget* parent)
        : QAbstractButton(parent)
        , m_project(project) {
        setText(project.name);
        setAccessibleDescription(project.summary);
        setToolTip(project.url);
        setCursor(Qt::PointingHandCursor);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setFixedHeight(artworkHeight + 2 * cardPadding + 9 + 20 + 6 + 46); // three lines of summary
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        p.setPen(QPen(palette::hairline(), 1));
        p.setBrush(isDown() || underMouse() ? palette::inkHigh : palette::inkRaised);
        p.drawRoundedRect(frame, palette::cornerMedium, palette::cornerMedium);

        const QRect inner = rect().adjusted(cardPadding, cardPadding, -cardPadding, -cardPadding);
        const QRect art(inner.left(), inner.top(), inner.width(), artworkHeight);
        p.setPen(Qt::NoPen);
        p.setBrush(palette::withOpacity(palette::cream, 0.05));
        p.drawRoundedRect(art, palette::cornerSmall, palette::cornerSmall);
        p.setFont(palette::emojiFont(26));
        p.setPen(palette::cream);
        p.drawText(art, Qt::AlignCenter, m_project.artwork);

        QRect line(inner.left(), art.bottom() + 9, inner.width(), 20);
        p.setFont(palette::textFont(14, QFont::DemiBold));
        p.drawText(line, Qt::AlignLeft | Qt::AlignVCenter, m_project.name + QStringLiteral("  ↗"));
        p.setFont(palette::textFont(12));
        p.setPen(palette::creamSecondary());
        p.drawText(QRect(inner.left(), line.bottom() + 6, inner.width(), inner.bottom() - line.bottom() - 6),
                   Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, m_project.summary);
    }

private:
    OtherProjectsPane::Project m_project;
};

} // namespace

const QList<OtherProjectsPane::Project>& OtherProjectsPane::projects() {
    static const QList<Project> list{
        {QStringLiteral("Emojibase"),
         tr("Emoji names, groups and skin-tone data, and the CLDR shortcodes Pimsel completes."),
         QStringLiteral("https://emojibase.dev"), QStringLiteral("📚")},
        {QStringLiteral("gemoji"), tr("GitHub's emoji shortcodes, the ones most chat apps understand."),
         QStringLiteral("https://github.com/github/gemoji"), QStringLiteral("💬")},
        {QStringLiteral("Noto Color Emoji"),
         tr("Google's open colour emoji font that draws every emoji in Pimsel."),
         QStringLiteral("https://github.com/googlefonts/noto-emoji"), QStringLiteral("🎨")},
        {QStringLiteral("Noto Animated Emoji"),
         tr("The animated artwork of the “/sticker” command, CC BY 4.0."),
         QStringLiteral("https://googlefonts.github.io/noto-emoji-animation/"), QStringLiteral("✨")},
        {QStringLiteral("Qt"), tr("The cross-platform toolkit behind Pimsel's windows, tray and networking."),
         QStringLiteral("https://www.qt.io"), QStringLiteral("🧩")},
    };
    return list;
}

QUrl OtherProjectsPane::campaignUrl(const QString& url) {
    QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid() || parsed.scheme().isEmpty() || parsed.host().isEmpty())
        return {};
    QUrlQuery query(parsed);
    query.addQueryItem(QStringLiteral("utm_source"), QStringLiteral("pimsel"));
    query.addQueryItem(QStringLiteral("utm_medium"), QStringLiteral("app"));
    query.addQueryItem(QStringLiteral("utm_campaign"), QStringLiteral("other-projects"));
    parsed.setQuery(query);
    return parsed;
}

OtherProjectsPane::OtherProjectsPane(std::function<void(const QUrl&)> openUrl, QWidget* parent)
    : QWidget(parent)
    , m_openUrl(std::move(openUrl)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 18);
    layout->setSpacing(6);
    auto* intro = new QLabel(tr("Built with free projects."));
    intro->setFont(palette::textFont(13, QFont::DemiBold));
    auto* sentence =
        new QLabel(tr("Pimsel stands on the open work of these projects. Thank you to everyone who "
                      "makes them; have a look at what they do."));
    sentence->setFont(palette::textFont(12));
    sentence->setWordWrap(true);
    layout->addWidget(intro);
    layout->addWidget(sentence);
    layout->addSpacing(8);

    auto* grid = new QGridLayout;
    grid->setSpacing(12);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    for (qsizetype i = 0; i < projects().size(); ++i) {
        auto* card = new ProjectCard(projects().at(i), this);
        card->setObjectName(projects().at(i).name);
        connect(card, &QAbstractButton::clicked, this,
                [this, name = projects().at(i).name] { openProject(name); });
        grid->addWidget(card, int(i / 2), int(i % 2));
    }
    layout->addLayout(grid);
    layout->addStretch(1);
}

void OtherProjectsPane::openProject(const QString& name) {
    for (const Project& project : projects()) {
        const QUrl url = project.name == name ? campaignUrl(project.url) : QUrl();
        if (!url.isEmpty() && m_openUrl)
            m_openUrl(url);
    }
}

} // namespace pimsel
