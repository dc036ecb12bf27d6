#pragma once

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <map>

// Every entry below a folder, by relative path: a hash of each file's bytes,
// "<folder>" for a folder, "link:" and the target for a link (never followed),
// "<special>" for a pipe, socket or device (never opened).
// Comparing two of these shows any change anywhere in a tree, temporary files
// left behind included.
using TreeHashes = std::map<QString, QByteArray>;

inline void HashInto(TreeHashes& out, const QString& root, const QString& relative) {
    const QDir dir(relative.isEmpty() ? root : root + QLatin1Char('/') + relative);
    const auto filter = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    for (const QFileInfo& info : dir.entryInfoList(filter, QDir::Name)) {
        const QString path =
            relative.isEmpty() ? info.fileName() : relative + QLatin1Char('/') + info.fileName();
        if (info.isSymLink()) {
            out[path] = "link:" + QFile::encodeName(info.symLinkTarget());
        } else if (info.isDir()) {
            out[path] = "<folder>";
            HashInto(out, root, path);
        } else if (!info.isFile()) {
            out[path] = "<special>"; // a pipe's open would wait for a writer
        } else {
            QFile file(info.filePath());
            out[path] = file.open(QIODevice::ReadOnly)
                            ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
                            : QByteArray("<unreadable>");
        }
    }
}

inline TreeHashes HashTree(const QString& root) {
    TreeHashes out;
    HashInto(out, root, QString());
    return out;
}

inline QByteArray HashOf(const QByteArray& data) {
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256);
}
