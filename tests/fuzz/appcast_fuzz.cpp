#include "app/appcast.h"
#include "app/version_compare.h"
#include "fuzz_check.h"

#include <QByteArrayList>

#include <algorithm>
#include <cstddef>
#include <cstdint>

using namespace pimsel;

namespace {

int sign(int value) {
    return (value > 0) - (value < 0);
}

// The newest release is picked by compareVersions, so it must order any versions a feed may hold
// consistently, or which release is offered would depend on the order of the items.
void checkOrdering(const QStringList& versions) {
    for (const QString& a : versions) {
        FUZZ_CHECK(compareVersions(a, a) == 0);
        for (const QString& b : versions) {
            FUZZ_CHECK(sign(compareVersions(a, b)) == -sign(compareVersions(b, a)));
            for (const QString& c : versions) {
                if (compareVersions(a, b) <= 0 && compareVersions(b, c) <= 0)
                    FUZZ_CHECK(compareVersions(a, c) <= 0);
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QList<AppcastItem> items = parseAppcast(bytes);
    QStringList versions;
    for (const AppcastItem& item : items) {
        FUZZ_CHECK(!item.version.isEmpty() && !item.displayVersion.isEmpty());
        FUZZ_CHECK(item.version == item.version.trimmed());
        FUZZ_CHECK(isWebAddress(item.downloadUrl));
        if (versions.size() < 6)
            versions.append(item.version);
    }
    checkOrdering(versions);

    const std::optional<AppcastItem> newest = newestAppcastItem(items);
    FUZZ_CHECK(newest.has_value() == !items.isEmpty());
    if (newest) {
        FUZZ_CHECK(items.contains(*newest));
        for (const AppcastItem& item : items)
            FUZZ_CHECK(compareVersions(item.version, newest->version) <= 0);
    }

    // Lines of the raw input as versions, so the comparison is fuzzed without needing a feed.
    QStringList lines;
    for (const QByteArray& line : bytes.split('\n').mid(0, 4))
        lines.append(QString::fromUtf8(line));
    checkOrdering(lines);
    return 0;
}
