#pragma once

// A fingerprint of every entry below a folder (files by their contents, links by
// their targets, folders by their names), so that a test can tell exactly what an
// operation changed, and that nothing outside its target did.
#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QString>

namespace treehash {

using Fingerprint = QMap<QString, QByteArray>; // relative path -> what is there

inline Fingerprint Take(const QString& root) {
    Fingerprint result;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories); // links are listed, never followed
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        QString rel = path.mid(root.size());
        if (rel.startsWith(QLatin1Char('/')))
            rel.remove(0, 1);
        if (info.isSymLink()) {
            result[rel] = "link:" + QFile::encodeName(info.symLinkTarget());
        } else if (info.isDir()) {
            result[rel] = "folder";
        } else {
            QFile f(path);
            QCryptographicHash hash(QCryptographicHash::Sha256);
            if (f.open(QIODevice::ReadOnly))
                hash.addData(&f);
            result[rel] = "file:" + hash.result().toHex();
        }
    }
    return result;
}

// The fingerprint without the entries at or below prefix (a relative path).
inline Fingerprint Without(Fingerprint print, const QString& prefix) {
    for (auto it = print.begin(); it != print.end();) {
        if (it.key() == prefix || it.key().startsWith(prefix + QLatin1Char('/')))
            it = print.erase(it);
        else
            ++it;
    }
    return print;
}

} // namespace treehash
