#include "app/appcast.h"
#include "app/version_compare.h"
#include "fuzz_check.h"

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
        for (const QString& b : versions) {
            FUZZ_CHECK(sign(compareVersions(a, b)) == -sign(compareVersions(b, a)));
            for (const QString& c : versions)
                FUZZ_CHECK(compareVersions(a, b) > 0 || compareVersions(b, c) > 0 ||
                           compareVersions(a, c) <= 0);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QList<AppcastItem> items = parseAppcast(bytes);
    // Lines of the raw input as versions too, so the comparison is fuzzed without needing a feed.
    QStringList versions;
    for (const QByteArray& line : bytes.split('\n').mid(0, 4))
        versions.append(QString::fromUtf8(line));
    for (const AppcastItem& item : items.mid(0, 6)) {
        FUZZ_CHECK(!item.displayVersion.isEmpty() && isWebAddress(item.downloadUrl));
        FUZZ_CHECK(!item.version.isEmpty() && item.version == item.version.trimmed());
        versions.append(item.version);
    }
    checkOrdering(versions);

    const std::optional<AppcastItem> newest = newestAppcastItem(items);
    FUZZ_CHECK(newest.has_value() == !items.isEmpty());
    for (const AppcastItem& item : items)
        FUZZ_CHECK(items.contains(*newest) && compareVersions(item.version, newest->version) <= 0);
    return 0;
}
