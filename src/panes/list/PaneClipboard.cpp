#include "PaneClipboard.h"

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMimeData>
#include <QSet>
#include <QUrl>

#include "VelmarDoc.h"

namespace {
// Nautilus puts its copies on the clipboard as plain text under this heading.
const QString kNautilusHeading = QStringLiteral("x-special/nautilus-clipboard");

QString LocalPathOf(const QString& line) {
    const QUrl url(line.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || !url.isLocalFile())
        return QString();
    const QString path = QDir::cleanPath(url.toLocalFile());
    if (!path.startsWith(QLatin1Char('/')) || path == QStringLiteral("/"))
        return QString();
    return path;
}

// URLs one a line; lines that are no local file URL (comments of text/uri-list,
// the "copy" or "cut" word of the GNOME forms) are passed over.
QStringList PathsOfLines(const QString& text) {
    QStringList paths;
    QSet<QString> seen;
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString path = LocalPathOf(line.trimmed());
        if (!path.isEmpty() && !seen.contains(path)) {
            seen.insert(path);
            paths.append(path);
        }
    }
    return paths;
}

QString ProcessMark(quint64 serial) {
    return QStringLiteral("%1 %2").arg(QCoreApplication::applicationPid()).arg(serial);
}
} // namespace

namespace paneclip {

QMimeData* MakeMime(const PaneClip& clip, quint64 serial) {
    auto* mime = new QMimeData;
    mime->setData(QString::fromLatin1(kOwnMime), ProcessMark(serial).toLatin1());
    if (clip.side != 0 || clip.items.isEmpty())
        return mime; // FTP items have no place in a file manager
    QList<QUrl> urls;
    QStringList paths;
    for (const ClipItem& item : clip.items) {
        urls.append(QUrl::fromLocalFile(item.path));
        paths.append(item.path);
    }
    mime->setUrls(urls);
    QByteArray gnome("copy");
    for (const QUrl& url : urls)
        gnome += '\n' + url.toEncoded();
    mime->setData(QString::fromLatin1(kGnomeFilesMime), gnome);
    mime->setText(paths.join(QLatin1Char('\n')));
    return mime;
}

quint64 OwnSerial(const QMimeData* mime) {
    if (!mime || !mime->hasFormat(QString::fromLatin1(kOwnMime)))
        return 0;
    const QStringList parts =
        QString::fromLatin1(mime->data(QString::fromLatin1(kOwnMime))).split(QLatin1Char(' '));
    if (parts.size() != 2 || parts[0].toLongLong() != QCoreApplication::applicationPid())
        return 0; // another running copy of the program: its record is its own
    return parts[1].toULongLong();
}

QStringList DesktopPaths(const QMimeData* mime) {
    if (!mime)
        return {};
    const QString uriList = QString::fromLatin1(kUriListMime);
    if (mime->hasFormat(uriList))
        return PathsOfLines(QString::fromUtf8(mime->data(uriList)));
    const QString gnome = QString::fromLatin1(kGnomeFilesMime);
    if (mime->hasFormat(gnome))
        return PathsOfLines(QString::fromUtf8(mime->data(gnome)));
    const QString text = mime->text();
    if (text.startsWith(kNautilusHeading))
        return PathsOfLines(text.mid(kNautilusHeading.size()));
    return {};
}

PaneClip FromDesktopPaths(const QStringList& paths) {
    PaneClip clip;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (!info.exists() && !info.isSymLink())
            continue; // gone since it was copied: nothing to take
        clip.items.append({path, info.fileName(), info.isDir()});
    }
    if (!clip.items.isEmpty()) {
        clip.side = 0;
        clip.fromDesktop = true;
    }
    return clip;
}

} // namespace paneclip

PaneClipboard* PaneClipboard::Of(CVelmarDoc* doc) {
    if (!doc)
        return nullptr;
    if (auto* existing = doc->findChild<PaneClipboard*>(QString(), Qt::FindDirectChildrenOnly))
        return existing;
    return new PaneClipboard(doc);
}

void PaneClipboard::Copy(const PaneClip& clip) {
    m_clip = clip;
    ++m_serial;
    if (QClipboard* board = QGuiApplication::clipboard())
        board->setMimeData(paneclip::MakeMime(clip, m_serial));
}

PaneClip PaneClipboard::Current() const {
    const QClipboard* board = QGuiApplication::clipboard();
    const QMimeData* mime = board ? board->mimeData() : nullptr;
    if (!mime || mime->formats().isEmpty())
        return m_clip; // no desktop clipboard to ask: only our own copy counts
    if (m_serial != 0 && paneclip::OwnSerial(mime) == m_serial)
        return m_clip;
    // Copied elsewhere since: the desktop's files, or nothing at all.
    return paneclip::FromDesktopPaths(paneclip::DesktopPaths(mime));
}
