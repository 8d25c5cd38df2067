#include "fuzz_check.h"
#include "platform/desktop_entries.h"

#include <cstddef>
#include <cstdint>

using namespace pimsel;

namespace {

const QString id = QStringLiteral("org.example.Editor");
// A locale with a region, so both translated-name lookups are reachable.
const QString locale = QStringLiteral("de_DE");

bool isSingleTrimmedLine(const QString& value) {
    return value == value.trimmed() && !value.contains(u'\n');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray contents(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::optional<DesktopEntry> entry = parseDesktopEntry(contents, id, locale);

    // Only the [Desktop Entry] group counts: a group after it (actions are written so) changes nothing.
    const QByteArray withAction =
        contents +
        "\n[Desktop Action Hide]\nName=Other\nName[de]=Andere\nIcon=other\nHidden=true\nType=Link\n";
    FUZZ_CHECK(parseDesktopEntry(withAction, id, locale) == entry);
    if (!entry)
        return 0;

    FUZZ_CHECK(entry->id == id);
    FUZZ_CHECK(isSingleTrimmedLine(entry->name));
    FUZZ_CHECK(isSingleTrimmedLine(entry->icon));
    FUZZ_CHECK(isSingleTrimmedLine(entry->startupWmClass));

    // What was read, written back as a plain entry, reads the same.
    const QString rewritten =
        QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nIcon=%2\nStartupWMClass=%3\n")
            .arg(entry->name, entry->icon, entry->startupWmClass);
    FUZZ_CHECK(parseDesktopEntry(rewritten.toUtf8(), id, locale) == entry);
    return 0;
}
