// SPDX-License-Identifier: GPL-3.0-or-later
#include "save.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace trend {

namespace {

QString Failure(const QString& path, const QFileDevice& file) {
    const QString reason =
        file.error() != QFileDevice::NoError ? file.errorString() : QCoreApplication::translate("frmTrend", "写入中断");
    return QCoreApplication::translate("frmTrend", "无法写入 %1: %2").arg(QDir::toNativeSeparators(path), reason);
}

// Unbuffered, so that each write reaches the system and its failure is
// seen here, not in a flush whose result a commit may drop. A short write
// is written on: the system reports the reason (disk full, file too large)
// only on the write that then fails outright.
bool WriteAll(QFileDevice& file, const QByteArray& content) {
    qint64 done = 0;
    while (done < content.size()) {
        const qint64 n = file.write(content.constData() + done, content.size() - done);
        if (n <= 0) return false;
        done += n;
    }
    return file.error() == QFileDevice::NoError;
}

QString WriteInPlace(const QString& path, const QByteArray& content) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || !WriteAll(file, content))
        return Failure(path, file);
    file.close();
    return file.error() == QFileDevice::NoError ? QString() : Failure(path, file);
}

QString WriteAndReplace(const QString& path, const QByteArray& content) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return Failure(path, file);
    if (!WriteAll(file, content)) {
        QString failure = Failure(path, file);
        file.cancelWriting();
        return failure;
    }
    return file.commit() ? QString() : Failure(path, file);
}

} // namespace

QString SaveFile(const QString& path, const QByteArray& content) {
    const QFileInfo target(path);
    if (target.exists() && !target.isFile() && !target.isDir()) return WriteInPlace(path, content);
    return WriteAndReplace(path, content);
}

} // namespace trend
