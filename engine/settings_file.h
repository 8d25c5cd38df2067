#pragma once

#include <QString>
#include <QVariant>

class QSettings;

namespace pimsel {

// Changes to the user's settings file. QSettings rewrites the whole file whenever it syncs a
// pending change, so callers change only what differs from what is stored. Each change is synced
// at once; a file that did not exist is created private to the user (it holds what they typed),
// and an existing file keeps its permission bits, read-only ones included.
void writeSetting(QSettings& settings, const QString& key, const QVariant& value);
// Nothing is written when the key is absent.
void removeSetting(QSettings& settings, const QString& key);

} // namespace pimsel
