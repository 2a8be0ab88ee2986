#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

namespace kv::test {

// Puts `text` into data.dat in `folder`, as a previous run would have left it.
[[nodiscard]] inline bool WriteDataFile(const QString& folder, const QByteArray& text) {
    QFile file(QDir(folder).filePath(QStringLiteral("data.dat")));
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

}  // namespace kv::test
