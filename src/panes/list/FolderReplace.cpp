#include "FolderReplace.h"

#include <QFile>
#include <sys/stat.h>

#include "CopyMessages.h"
#include "FtpFileOps.h"
#include "LocalFileOps.h"
#include "MyListView.h"
#include "RemoteLeftovers.h"
#include "TempJournal.h"
#include "TransferPaths.h"
#include "VelmarApp.h"

namespace {

enum class Found { Nothing, Folder, Link, File, LookupFailed };

Found LocalKind(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return Found::Nothing;
    if (S_ISLNK(st.st_mode))
        return Found::Link;
    return S_ISDIR(st.st_mode) ? Found::Folder : Found::File;
}

Found FtpKind(const QString& path) {
    const core::FtpLookUp found = core::LookUpFtp(AfxGetApp()->Site().Remote(), path);
    if (found.failed)
        return Found::LookupFailed;
    if (!found.entry)
        return Found::Nothing;
    if (found.entry->isLink)
        return Found::Link;
    return found.entry->isFolder ? Found::Folder : Found::File;
}

// One side of the replacement: looks, renames and deletes there.
class Side {
public:
    Side(CMyListView* pane, bool onFtp) : m_pane(pane), m_onFtp(onFtp) {}

    Found Kind(const QString& path) const { return m_onFtp ? FtpKind(path) : LocalKind(path); }

    // A temporary name beside path that nothing holds yet; empty when none is free.
    QString FreeSibling(const QString& path, const QString& tag) const {
        for (int attempt = 0; attempt < 8; ++attempt) {
            const QString name = transferpaths::TempSibling(path, tag);
            if (Kind(name) == Found::Nothing)
                return name;
        }
        return QString();
    }

    // Never over something: a name that turned up meanwhile is refused, not lost.
    bool Rename(const QString& from, const QString& to) const {
        const core::OpResult result =
            m_onFtp ? core::RenameFtp(AfxGetApp()->Site().Remote(), from, to)
                    : core::RenameLocal(from, to);
        return result.Ok();
    }

    // Deletes a folder (or a link, itself only) through the pane, which says why
    // when it cannot.
    bool Delete(const QString& path, bool isLink) const {
        int& force = m_onFtp ? m_pane->m_forceFtp : m_pane->m_forceLocal;
        force = 1;
        const bool deleted = isLink ? m_pane->DeleteOneFile(path)
                                    : m_pane->DeleteFolderTree(path + QLatin1Char('/'));
        force = 0;
        return deleted;
    }

    // Removes what a failed copy left under its temporary name, or says where it
    // is left when that cannot be done (and a later run removes it).
    void RemovePartial(const QString& path) const {
        const Found found = Kind(path);
        const bool removed =
            found == Found::Nothing || ((found == Found::Folder || found == Found::Link) &&
                                        Delete(path, found == Found::Link));
        if (removed)
            Forget(path);
        else
            copymessages::PartialLeft(m_pane, path, true);
    }

    // The journal of the temporary names made on this side: written down before
    // each is made, struck out once it is gone or belongs to the user.
    void Note(const QString& path, bool isLink, const QString& replaces = QString()) const {
        tempjournal::Note(JournalSite(),
                          isLink ? tempjournal::Kind::Link : tempjournal::Kind::Folder, path,
                          replaces);
    }
    void Forget(const QString& path) const { tempjournal::Forget(JournalSite(), path); }

private:
    QString JournalSite() const {
        return m_onFtp ? core::LeftoverSiteOf(AfxGetApp()->Site().Profile())
                       : tempjournal::LocalSite();
    }

    CMyListView* m_pane;
    bool m_onFtp;
};

// The copy stands whole at fresh: the old one steps aside, the new one takes its
// name, the old one goes. A step that fails undoes the ones before it.
bool PutInPlace(const Side& side, CMyListView* pane, const QString& fresh,
                const QString& destination, bool oldIsLink) {
    const QString aside = side.FreeSibling(destination, QStringLiteral("old"));
    if (!aside.isEmpty())
        side.Note(aside, oldIsLink, destination);
    if (aside.isEmpty() || !side.Rename(destination, aside)) {
        side.Forget(aside);
        side.RemovePartial(fresh);
        copymessages::ReplaceFailed(pane, destination);
        return false;
    }
    if (!side.Rename(fresh, destination)) {
        const bool back = side.Rename(aside, destination);
        // An old folder that could not go back is the user's only copy now: it
        // is named to the user and never removed as a leftover.
        side.Forget(aside);
        side.RemovePartial(fresh);
        if (back)
            copymessages::ReplaceFailed(pane, destination);
        else
            copymessages::OldKeptAside(pane, destination, aside, true);
        return false;
    }
    side.Forget(fresh);
    // What could not be deleted is named to the user, and left to the user.
    if (!side.Delete(aside, oldIsLink))
        copymessages::OldNotRemoved(pane, aside, true);
    side.Forget(aside);
    return true;
}

} // namespace

bool CopyFolderReplacing(CMyListView* pane, bool onFtp, const QString& destination,
                         const std::function<bool(const QString& into)>& copy) {
    const Side side(pane, onFtp);
    const Found found = side.Kind(destination);
    switch (found) {
    case Found::Nothing:
        return copy(destination);
    case Found::File:
        copymessages::FileInTheWay(pane, destination);
        return false;
    case Found::LookupFailed:
        copymessages::FolderUnreadable(pane, transferpaths::ParentOf(destination));
        return false;
    case Found::Folder:
    case Found::Link:
        break;
    }
    const QString fresh = side.FreeSibling(destination, QStringLiteral("new"));
    if (fresh.isEmpty()) {
        copymessages::ReplaceFailed(pane, destination);
        return false;
    }
    side.Note(fresh, false);
    if (!copy(fresh)) {
        side.RemovePartial(fresh);
        return false;
    }
    return PutInPlace(side, pane, fresh, destination, found == Found::Link);
}
