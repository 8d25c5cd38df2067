#include "ui/shortcuts_preferences_pane.h"

#include "engine/settings_store.h"
#include "ui/palette.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace pimsel {

using preferences::caption;
using preferences::Switch;

namespace {

// Quoted as the user reads it: “;”.
QString quoted(const QString& text) {
    return QStringLiteral("“%1”").arg(text);
}

QString triggerName(const QString& key) {
    static const QStringList names{QStringLiteral("colon"), QStringLiteral("semicolon"),
                                   QStringLiteral("slash"), QStringLiteral("backslash"),
                                   QStringLiteral("at"),    QStringLiteral("hash"),
                                   QStringLiteral("tilde"), QStringLiteral("pipe")};
    return names.value(SettingsStore::allowedTriggerKeys.indexOf(key));
}

} // namespace

ShortcutsPreferencesPane::ShortcutsPreferencesPane(SettingsStore& settings, bool gifSearchAvailable,
                                                   QWidget* parent)
    : preferences::Form(parent)
    , m_settings(settings)
    , m_trigger(new QComboBox)
    , m_triggerCaption(caption({}))
    , m_immediateCaption(caption({}))
    , m_replaceCaption(caption({})) {
    QVBoxLayout* acceptance = addSection(tr("Acceptance"));
    addSwitch(acceptance, "acceptWithTab", tr("Accept with Tab"));
    addSwitch(acceptance, "acceptWithReturn", tr("Accept with Return"));
    acceptance->addWidget(caption(tr("Return may be expected to send a message in some apps.")));

    QVBoxLayout* trigger = addSection(tr("Trigger"));
    auto* pickerRow = new QHBoxLayout;
    auto* pickerLabel = new QLabel(tr("Trigger key"));
    pickerLabel->setFont(palette::textFont(13));
    pickerRow->addWidget(pickerLabel, 1);
    pickerRow->addWidget(m_trigger);
    trigger->addLayout(pickerRow);
    for (const QString& key : SettingsStore::allowedTriggerKeys)
        m_trigger->addItem(QStringLiteral("%1  (%2)").arg(key, triggerName(key)), key);
    m_trigger->setAccessibleName(pickerLabel->text());
    connect(m_trigger, &QComboBox::activated, this, [this](int index) {
        m_settings.setTriggerKey(m_trigger->itemData(index).toString());
        rereadTrigger();
    });
    trigger->addWidget(m_triggerCaption);
    addSwitch(trigger, "showImmediatelyAfterColon");
    trigger->addWidget(m_immediateCaption);

    QVBoxLayout* browse = addSection(tr("Browse"));
    addSwitch(browse, "openBrowserOnDoubleTrigger");
    browse->addWidget(
        caption(tr("Typing the trigger twice in a row opens a large, searchable window to browse every "
                   "emoji. Pick one to drop it into whatever you were typing.")));

    QVBoxLayout* shortcodes = addSection(tr("Shortcodes"));
    addSwitch(shortcodes, "replaceOnClosingColon");
    shortcodes->addWidget(m_replaceCaption);

    QVBoxLayout* stickers = addSection(tr("Stickers"));
    addSwitch(stickers, "stickerCommandEnabled", tr("Enable “/sticker” in messaging apps"));
    stickers->addWidget(
        caption(tr("In a messaging app such as Signal, Telegram Desktop or Element, type “/sticker”, "
                   "then search and pick a sticker to drop into your message. Works only in "
                   "messaging apps.")));
    stickers->addWidget(
        caption(tr("Stickers download from Google’s emoji CDN the first time you use them, then are "
                   "cached on this computer. No message content is ever sent.")));
    stickers->addWidget(
        caption(tr("Sticker artwork from Noto Animated Emoji by Google, licensed CC BY 4.0.")));

    QVBoxLayout* gifs = addSection(tr("GIFs"));
    Switch* gif = addSwitch(gifs, "giphyCommandEnabled", tr("Enable “/gif” in messaging apps"));
    gifs->addWidget(
        caption(tr("In a messaging app, type “/gif”, then search Giphy for a GIF to drop into your "
                   "message. Works only in messaging apps.")));
    gifs->addWidget(
        caption(tr("Your search text is sent to Giphy to fetch results. GIFs are powered by GIPHY.")));
    if (!gifSearchAvailable) {
        gif->setEnabled(false);
        gifs->addWidget(
            caption(tr("GIF search is not available in this copy of Pimsel: it needs a GIPHY API key, "
                       "and none was configured. Start Pimsel with PIMSEL_GIPHY_API_KEY set to your "
                       "own key to use “/gif”.")));
    }

    connect(&m_settings, &SettingsStore::triggerKeyChanged, this, &ShortcutsPreferencesPane::rereadTrigger);
    rereadTrigger();
}

Switch* ShortcutsPreferencesPane::addSwitch(QVBoxLayout* section, const char* property, const QString& text) {
    auto* toggle = new Switch(text);
    toggle->setObjectName(QLatin1String(property));
    toggle->bind(&m_settings, property);
    section->addWidget(toggle);
    return toggle;
}

Switch* ShortcutsPreferencesPane::switchFor(const char* property) const {
    return findChild<Switch*>(QLatin1String(property));
}

void ShortcutsPreferencesPane::rereadTrigger() {
    const QString t = m_settings.triggerCharacter();
    m_trigger->setCurrentIndex(SettingsStore::allowedTriggerKeys.indexOf(t));
    m_triggerCaption->setText(
        tr("The key that opens a suggestion, e.g. %1. Only punctuation keys are offered so "
           "the trigger never clashes with letters or numbers in a shortcut.")
            .arg(quoted(t + QStringLiteral("wave"))));
    switchFor("showImmediatelyAfterColon")
        ->setText(tr("Show suggestions immediately after typing %1").arg(quoted(t)));
    m_immediateCaption->setText(
        tr("When off, suggestions appear after the first character, e.g. %1.").arg(quoted(t + u'w')));
    switchFor("openBrowserOnDoubleTrigger")->setText(tr("Open the emoji browser on %1").arg(quoted(t + t)));
    switchFor("replaceOnClosingColon")->setText(tr("Replace exact shortcodes on closing %1").arg(quoted(t)));
    m_replaceCaption->setText(
        tr("Typing %1house%1 instantly inserts 🏠. Only exact alias matches are replaced.").arg(t));
}

QStringList ShortcutsPreferencesPane::triggerTexts() const {
    return {m_triggerCaption->text(),
            switchFor("showImmediatelyAfterColon")->text(),
            m_immediateCaption->text(),
            switchFor("openBrowserOnDoubleTrigger")->text(),
            switchFor("replaceOnClosingColon")->text(),
            m_replaceCaption->text()};
}

} // namespace pimsel
