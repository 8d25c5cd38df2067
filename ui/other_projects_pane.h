#pragma once

#include <QString>
#include <QUrl>
#include <QWidget>

#include <functional>

namespace pimsel {

// The free projects Pimsel is built from, as a two-column grid of cards; a click on a card opens
// the project's home page.
class OtherProjectsPane : public QWidget {
    Q_OBJECT

public:
    struct Project {
        QString name;
        QString summary;
        QString url;
        QString artwork; // an emoji drawn as the card's picture
    };
    static const QList<Project>& projects();

    // The address a card opens: `url` with the three campaign items appended after any it already
    // has; empty when `url` cannot be parsed.
    static QUrl campaignUrl(const QString& url);

    // `openUrl` hands an address to the desktop.
    explicit OtherProjectsPane(std::function<void(const QUrl&)> openUrl, QWidget* parent = nullptr);

    // Clicks the card of `name`, as the user would.
    void openProject(const QString& name);

private:
    std::function<void(const QUrl&)> m_openUrl;
};

} // namespace pimsel
