#include "engine/use_counts.h"

#include <QMetaType>
#include <QVariantMap>

#include <limits>

namespace pimsel {

namespace {

bool isInteger(const QVariant& value) {
    switch (value.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return true;
    default:
        return false;
    }
}

} // namespace

UseCounts decodeUseCounts(const QVariant& stored) {
    UseCounts counts;
    if (stored.metaType().id() != QMetaType::QVariantMap)
        return counts;
    const QVariantMap map = stored.toMap();
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        if (it.key().isEmpty() || !isInteger(it.value()))
            continue;
        bool fits = false;
        const qlonglong value = it.value().toLongLong(&fits);
        if (!fits || value < 1 || value > std::numeric_limits<int>::max())
            continue;
        counts.insert(it.key(), static_cast<int>(value));
    }
    return counts;
}

QVariant encodeUseCounts(const UseCounts& counts) {
    QVariantMap map;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        map.insert(it.key(), it.value());
    return map;
}

} // namespace pimsel
