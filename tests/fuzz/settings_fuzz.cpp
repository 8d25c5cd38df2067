#include "engine/emoji_store.h"
#include "engine/settings_file.h"
#include "engine/settings_store.h"
#include "engine/use_counts.h"
#include "fuzz_check.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>

#include <cstddef>
#include <cstdint>

using namespace pimsel;

namespace {

// QSettings keeps parsed files per process, so every file gets a name of its own and is read as
// another process would read it.
QString writeFile(const QByteArray& bytes) {
    static const QString dir =
        QDir::temp().filePath(QStringLiteral("pimsel-fuzz-%1").arg(QCoreApplication::applicationPid()));
    static int serial = 0;
    QDir().mkpath(dir);
    const QString path = QStringLiteral("%1/%2.conf").arg(dir).arg(++serial);
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    return path;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

} // namespace

// The input is a settings file as the user (or a damaged disk) left it. Whatever was decoded is
// written as the store writes it and must decode to the same values.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString inPath =
        writeFile(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    const QString outPath = writeFile({});
    QSettings in(inPath, QSettings::IniFormat);
    const SettingsStore read(&in);
    const UseCounts counts = decodeUseCounts(in.value(QLatin1String(EmojiStore::useCountKey)));
    FUZZ_CHECK(SettingsStore::allowedTriggerKeys.contains(read.triggerKey()));
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        FUZZ_CHECK(!it.key().isEmpty() && it.value() > 0);
    {
        QSettings out(outPath, QSettings::IniFormat);
        SettingsStore written(&out);
        written.setEnabled(read.enabled());
        written.setTriggerKey(read.triggerKey());
        written.setDisabledApps(read.disabledApps());
        written.setDisabledWebsites(read.disabledWebsites());
        written.setCustomAliases(read.customAliases());
        written.setSkinTone(read.skinTone());
        writeSetting(out, QLatin1String(EmojiStore::useCountKey), encodeUseCounts(counts));
    }
    const QString againPath = writeFile(readFile(outPath));
    QSettings again(againPath, QSettings::IniFormat);
    const SettingsStore reread(&again);
    FUZZ_CHECK(reread.enabled() == read.enabled() && reread.triggerKey() == read.triggerKey());
    FUZZ_CHECK(reread.disabledApps() == read.disabledApps() &&
               reread.disabledWebsites() == read.disabledWebsites());
    FUZZ_CHECK(reread.customAliases() == read.customAliases() && reread.skinTone() == read.skinTone());
    FUZZ_CHECK(decodeUseCounts(again.value(QLatin1String(EmojiStore::useCountKey))) == counts);
    for (const QString& path : {inPath, outPath, againPath})
        QFile::remove(path);
    return 0;
}
