#pragma once

// Whole files in and out, for fixtures that lay out a configuration or a cache, and the one field
// of each element of a list, which is what most checks compare.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <functional>

namespace pimsel::testing {

// Creates the folders on the way; false when anything fails.
inline bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// Empty when the file cannot be read.
inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

template <typename List, typename Field> QStringList collect(const List& items, Field field) {
    QStringList out;
    for (const auto& item : items)
        out << std::invoke(field, item);
    return out;
}

} // namespace pimsel::testing
