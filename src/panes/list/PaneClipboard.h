#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class CVelmarDoc;
class QMimeData;

// One item that Ctrl+C took: its full path on its side (no trailing "/"), the
// name the copy gets, and whether it is a folder.
struct ClipItem {
    QString path;
    QString name;
    bool folder = false;
    bool operator==(const ClipItem&) const = default;
};

// What a paste would copy: the items and the side they are on. A copy made in
// the desktop's file manager arrives as local items.
struct PaneClip {
    int side = -1; // 0 local, 1 FTP; -1 nothing to paste
    bool fromDesktop = false;
    QString origin; // FTP items: the server and user they were copied from
    QList<ClipItem> items;
    bool IsEmpty() const { return side < 0 || items.isEmpty(); }
};

namespace paneclip {
// The formats of the desktop clipboard.
inline constexpr const char* kUriListMime = "text/uri-list";
inline constexpr const char* kGnomeFilesMime = "x-special/gnome-copied-files";
inline constexpr const char* kOwnMime = "application/x-velmar98-clip";

// The data put on the desktop clipboard for a copy in a pane: local items as
// file URLs (text/uri-list, GNOME's copied-files form and plain paths) so that a
// file manager can paste them, and in every case a mark naming this process and
// the copy, by which a paste knows the clipboard still holds that copy.
QMimeData* MakeMime(const PaneClip& clip, quint64 serial);
// The serial of this process's mark on the clipboard data, or 0 when the data
// are not (or no longer) ours.
quint64 OwnSerial(const QMimeData* mime);
// The local paths of a file manager's copy: text/uri-list, else GNOME's
// copied-files list ("copy" or "cut" and URLs, one a line). Only absolute local
// paths with a name of their own (never "/" itself); duplicates once.
QStringList DesktopPaths(const QMimeData* mime);
// The desktop's files as a clip of local items, folders told as a drop from
// the file manager tells them (empty when there are none).
PaneClip FromDesktopPaths(const QStringList& paths);
} // namespace paneclip

// The copy that Ctrl+C took in a pane, kept with the document so that all four
// panes share it, as they share a drag. The desktop clipboard carries it too;
// whatever was copied last, here or in a file manager, is what Ctrl+V pastes.
class PaneClipboard : public QObject {
    Q_OBJECT
public:
    // The clipboard of the document (made on first use, deleted with it).
    static PaneClipboard* Of(CVelmarDoc* doc);

    // Records the clip and puts it on the desktop clipboard.
    void Copy(const PaneClip& clip);
    // What Ctrl+V pastes now: the recorded clip while the desktop clipboard
    // holds it (or has no owner, as without a display), else the files a file
    // manager copied there.
    PaneClip Current() const;
    const PaneClip& Recorded() const { return m_clip; }

private:
    explicit PaneClipboard(QObject* parent) : QObject(parent) {}

    PaneClip m_clip;
    quint64 m_serial = 0;
};
