// Whole-file reads and writes for tests that hand files to the code under
// test (installers, updaters, downloads) and read back what it wrote.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <gtest/gtest.h>

namespace zucam::test {

// The file's bytes; empty when it cannot be read.
inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes bytes over the file (a fatal failure when it cannot), made
// executable for its owner when asked.
inline void writeFile(const QString& path, const QByteArray& bytes, bool executable = false) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
    file.close();
    if (executable) file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

}  // namespace zucam::test
