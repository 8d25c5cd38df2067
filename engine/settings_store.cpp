#include "engine/settings_store.h"

#include "engine/settings_file.h"
#include "engine/text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QVariant>

#include <algorithm>
#include <optional>
#include <utility>

namespace pimsel {

namespace {

constexpr auto enabledKey = "pimsel.enabled";
constexpr auto acceptWithTabKey = "pimsel.acceptWithTab";
constexpr auto acceptWithReturnKey = "pimsel.acceptWithReturn";
constexpr auto showImmediatelyAfterColonKey = "pimsel.showImmediatelyAfterColon";
constexpr auto replaceOnClosingColonKey = "pimsel.replaceOnClosingColon";
constexpr auto openBrowserOnDoubleTriggerKey = "pimsel.openBrowserOnDoubleTrigger";
constexpr auto stickerCommandEnabledKey = "pimsel.stickerCommandEnabled";
constexpr auto giphyCommandEnabledKey = "pimsel.giphyCommandEnabled";
constexpr auto triggerKeyKey = "pimsel.triggerKey";
constexpr auto disabledAppsKey = "pimsel.disabledApps";
constexpr auto disabledWebsitesKey = "pimsel.disabledWebsites";
constexpr auto customAliasesKey = "pimsel.customAliases";
constexpr auto skinToneKey = "pimsel.skinTone";

const QString defaultTrigger = QStringLiteral(":");

// A value read back from an INI file is a string whatever was written, so a Boolean
// arrives as "true"/"false". Anything else is not a Boolean.
std::optional<bool> readBool(const QSettings& settings, const char* key) {
    const QVariant value = settings.value(QLatin1String(key));
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString();
        if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return true;
        if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            return false;
    }
    return std::nullopt;
}

QString readString(const QSettings& settings, const char* key) {
    const QVariant value = settings.value(QLatin1String(key));
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

std::optional<QString> readTrigger(const QSettings& settings) {
    const QString text = readString(settings, triggerKeyKey);
    return SettingsStore::isValidTrigger(text) ? std::optional(text) : std::nullopt;
}

// The file's escapes can spell half of a surrogate pair, which no write can reproduce, so such a
// value is treated like one of the wrong type.
bool isWellFormed(const QString& text) {
    return text.isValidUtf16();
}

// A set is written as a QVariantList (see writeSet), which the INI format returns as a
// QStringList when it has several elements, as a QVariantList when it has one, and as an
// invalid value when it is empty. Other shapes are not a set of strings.
std::optional<QSet<QString>> readSet(const QSettings& settings, const char* key) {
    const QVariant value = settings.value(QLatin1String(key));
    QSet<QString> result;
    if (!value.isValid())
        return result;
    // An INI file keeps a one-entry list as the bare entry, and it reads back as a string.
    if (value.typeId() == QMetaType::QString) {
        if (!value.toString().isEmpty())
            result.insert(value.toString());
    } else if (value.typeId() == QMetaType::QStringList) {
        const QStringList list = value.toStringList();
        result = QSet<QString>(list.begin(), list.end());
    } else if (value.typeId() == QMetaType::QVariantList) {
        const QVariantList list = value.toList();
        for (const QVariant& element : list) {
            if (element.typeId() != QMetaType::QString)
                return std::nullopt;
            result.insert(element.toString());
        }
    } else {
        return std::nullopt;
    }
    if (!std::all_of(result.cbegin(), result.cend(), isWellFormed))
        return std::nullopt;
    return result;
}

QStringList sortedList(const QSet<QString>& set) {
    QStringList list(set.begin(), set.end());
    std::sort(list.begin(), list.end());
    return list;
}

// A one-element QStringList would be flattened to a plain string by the INI writer and come
// back indistinguishable from a stray string value; a one-element QVariantList is kept typed.
QVariant listValue(const QSet<QString>& set) {
    QVariantList list;
    for (const QString& element : sortedList(set))
        list.append(element);
    return list;
}

QByteArray jsonString(const QString& text) {
    const QByteArray wrapped = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2);
}

// Written by hand so the keys keep the order id, alias, emoji (QJsonObject would sort them).
QByteArray encodeAliases(const QList<CustomAlias>& aliases) {
    QByteArray out = "[";
    for (qsizetype i = 0; i < aliases.size(); ++i) {
        const CustomAlias& alias = aliases.at(i);
        if (i > 0)
            out += ',';
        out += "{\"id\":" + jsonString(alias.id.toString(QUuid::WithoutBraces)) +
               ",\"alias\":" + jsonString(alias.alias) + ",\"emoji\":" + jsonString(alias.emoji) + '}';
    }
    out += ']';
    return out;
}

// Any element that lacks a key, has a wrong type or a malformed id rejects the whole list.
std::optional<QList<CustomAlias>> decodeAliases(const QByteArray& data) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QList<CustomAlias> result;
    const QJsonArray array = document.array();
    for (const QJsonValue& element : array) {
        if (!element.isObject())
            return std::nullopt;
        const QJsonObject object = element.toObject();
        const QJsonValue id = object.value(QLatin1String("id"));
        const QJsonValue alias = object.value(QLatin1String("alias"));
        const QJsonValue emoji = object.value(QLatin1String("emoji"));
        if (!id.isString() || !alias.isString() || !emoji.isString() || !isWellFormed(alias.toString()) ||
            !isWellFormed(emoji.toString()))
            return std::nullopt;
        const QString idText = id.toString();
        const QUuid uuid = QUuid::fromString(idText);
        // Only the bare 36-character form is an id; braces or other spellings are not.
        if (uuid.toString(QUuid::WithoutBraces).compare(idText, Qt::CaseInsensitive) != 0)
            return std::nullopt;
        result.append(CustomAlias{uuid, alias.toString(), emoji.toString()});
    }
    return result;
}

std::optional<QList<CustomAlias>> readAliases(const QSettings& settings) {
    const QVariant value = settings.value(QLatin1String(customAliasesKey));
    if (value.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return decodeAliases(value.toByteArray());
}

std::optional<SkinTone> readSkinTone(const QSettings& settings) {
    return skinToneFromRawValue(readString(settings, skinToneKey));
}

// Only what the user changed is written: a value equal to the one the store answered with stays
// unwritten even when the file holds something undecodable there (it is the user's until they
// change the setting), and so does one the file already holds. QSettings rewrites the whole file
// for every write.
template <typename T> bool isChange(const std::optional<T>& stored, const T& previous, const T& value) {
    return value != previous && stored != value;
}

} // namespace

const QStringList SettingsStore::allowedTriggerKeys{
    QStringLiteral(":"), QStringLiteral(";"), QStringLiteral("/"), QStringLiteral("\\"),
    QStringLiteral("@"), QStringLiteral("#"), QStringLiteral("~"), QStringLiteral("|"),
};

SettingsStore::SettingsStore(QSettings* defaults, LoginItemManaging* loginItems, QObject* parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_loginItems(loginItems) {
    // The member initialisers are the registered defaults; a key never written is answered
    // with them and nothing is written back.
    const QSettings& s = *m_defaults;
    m_enabled = readBool(s, enabledKey).value_or(m_enabled);
    m_acceptWithTab = readBool(s, acceptWithTabKey).value_or(m_acceptWithTab);
    m_acceptWithReturn = readBool(s, acceptWithReturnKey).value_or(m_acceptWithReturn);
    m_showImmediatelyAfterColon =
        readBool(s, showImmediatelyAfterColonKey).value_or(m_showImmediatelyAfterColon);
    m_replaceOnClosingColon = readBool(s, replaceOnClosingColonKey).value_or(m_replaceOnClosingColon);
    m_openBrowserOnDoubleTrigger =
        readBool(s, openBrowserOnDoubleTriggerKey).value_or(m_openBrowserOnDoubleTrigger);
    m_stickerCommandEnabled = readBool(s, stickerCommandEnabledKey).value_or(m_stickerCommandEnabled);
    m_giphyCommandEnabled = readBool(s, giphyCommandEnabledKey).value_or(m_giphyCommandEnabled);
    m_triggerKey = readTrigger(s).value_or(defaultTrigger);
    m_disabledApps = readSet(s, disabledAppsKey).value_or(QSet<QString>{});
    m_disabledWebsites = readSet(s, disabledWebsitesKey).value_or(QSet<QString>{});
    m_customAliases = readAliases(s).value_or(QList<CustomAlias>{});
    m_skinTone = readSkinTone(s).value_or(SkinTone::yellow);
}

QStringList SettingsStore::disabledAppsList() const {
    return sortedList(m_disabledApps);
}

QStringList SettingsStore::disabledWebsitesList() const {
    return sortedList(m_disabledWebsites);
}

QString SettingsStore::triggerCharacter() const {
    return m_triggerKey.isEmpty() ? defaultTrigger : text::firstGrapheme(m_triggerKey);
}

bool SettingsStore::isValidTrigger(const QString& value) {
    return text::graphemeCount(value) == 1 && allowedTriggerKeys.contains(value);
}

void SettingsStore::storeValue(const char* key, const QVariant& value) {
    // Other processes (the command line, a second instance) read the same file, so it is synced
    // at once.
    writeSetting(*m_defaults, QLatin1String(key), value);
}

void SettingsStore::assignSwitch(bool& field, const char* key, bool value,
                                 void (SettingsStore::*notify)(bool)) {
    const bool previous = std::exchange(field, value);
    if (isChange(readBool(*m_defaults, key), previous, value))
        storeValue(key, value);
    Q_EMIT(this->*notify)(value);
    Q_EMIT changed();
}

void SettingsStore::setEnabled(bool value) {
    assignSwitch(m_enabled, enabledKey, value, &SettingsStore::enabledChanged);
}

void SettingsStore::setAcceptWithTab(bool value) {
    assignSwitch(m_acceptWithTab, acceptWithTabKey, value, &SettingsStore::acceptWithTabChanged);
}

void SettingsStore::setAcceptWithReturn(bool value) {
    assignSwitch(m_acceptWithReturn, acceptWithReturnKey, value, &SettingsStore::acceptWithReturnChanged);
}

void SettingsStore::setShowImmediatelyAfterColon(bool value) {
    assignSwitch(m_showImmediatelyAfterColon, showImmediatelyAfterColonKey, value,
                 &SettingsStore::showImmediatelyAfterColonChanged);
}

void SettingsStore::setReplaceOnClosingColon(bool value) {
    assignSwitch(m_replaceOnClosingColon, replaceOnClosingColonKey, value,
                 &SettingsStore::replaceOnClosingColonChanged);
}

void SettingsStore::setOpenBrowserOnDoubleTrigger(bool value) {
    assignSwitch(m_openBrowserOnDoubleTrigger, openBrowserOnDoubleTriggerKey, value,
                 &SettingsStore::openBrowserOnDoubleTriggerChanged);
}

void SettingsStore::setStickerCommandEnabled(bool value) {
    assignSwitch(m_stickerCommandEnabled, stickerCommandEnabledKey, value,
                 &SettingsStore::stickerCommandEnabledChanged);
}

void SettingsStore::setGiphyCommandEnabled(bool value) {
    assignSwitch(m_giphyCommandEnabled, giphyCommandEnabledKey, value,
                 &SettingsStore::giphyCommandEnabledChanged);
}

void SettingsStore::setTriggerKey(const QString& value) {
    const QString previous = m_triggerKey;
    m_triggerKey = value;
    if (!isValidTrigger(value)) {
        // Subscribers see the rejected value and then its replacement; storage only ever
        // holds a valid trigger.
        Q_EMIT triggerKeyChanged(value);
        Q_EMIT changed();
        m_triggerKey = defaultTrigger;
    }
    if (isChange(readTrigger(*m_defaults), previous, m_triggerKey))
        storeValue(triggerKeyKey, m_triggerKey);
    Q_EMIT triggerKeyChanged(m_triggerKey);
    Q_EMIT changed();
}

void SettingsStore::setDisabledApps(const QSet<QString>& value) {
    // `value` may be a reference to the member itself, so the old value is copied first.
    const QSet<QString> previous = m_disabledApps;
    m_disabledApps = value;
    if (isChange(readSet(*m_defaults, disabledAppsKey), previous, value))
        storeValue(disabledAppsKey, listValue(value));
    Q_EMIT disabledAppsChanged();
    Q_EMIT changed();
}

void SettingsStore::setDisabledWebsites(const QSet<QString>& value) {
    const QSet<QString> previous = m_disabledWebsites;
    m_disabledWebsites = value;
    if (isChange(readSet(*m_defaults, disabledWebsitesKey), previous, value))
        storeValue(disabledWebsitesKey, listValue(value));
    Q_EMIT disabledWebsitesChanged();
    Q_EMIT changed();
}

void SettingsStore::setCustomAliases(const QList<CustomAlias>& value) {
    const QList<CustomAlias> previous = m_customAliases;
    m_customAliases = value;
    if (isChange(readAliases(*m_defaults), previous, value))
        storeValue(customAliasesKey, encodeAliases(value));
    Q_EMIT customAliasesChanged();
    Q_EMIT changed();
}

void SettingsStore::setSkinTone(SkinTone value) {
    const SkinTone previous = std::exchange(m_skinTone, value);
    if (isChange(readSkinTone(*m_defaults), previous, value))
        storeValue(skinToneKey, rawValue(value));
    Q_EMIT skinToneChanged(value);
    Q_EMIT changed();
}

bool SettingsStore::launchAtLogin() const {
    return m_loginItems != nullptr && m_loginItems->isRegistered();
}

void SettingsStore::setLaunchAtLogin(bool enabled) {
    if (m_loginItems != nullptr) {
        const bool registered = m_loginItems->isRegistered();
        // A failure leaves the login state as it was; views re-read it on `changed`.
        if (enabled && !registered)
            (void)m_loginItems->registerItem();
        else if (!enabled && registered)
            (void)m_loginItems->unregisterItem();
    }
    Q_EMIT changed();
}

} // namespace pimsel
