#include "FolderReplace.h"

#include <QFile>
#include <sys/stat.h>

#include "CopyMessages.h"
#include "FtpFileOps.h"
#include "Job.h"
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

core::Task<Found> FtpKind(QString path) {
    core::RemoteConnection* remote = AfxGetApp()->Site().Remote();
    const core::FtpLookUp found = co_await core::LookUpFtpJob(remote, path);
    if (found.failed)
        co_return Found::LookupFailed;
    if (!found.entry)
        co_return Found::Nothing;
    if (found.entry->isLink)
        co_return Found::Link;
    co_return found.entry->isFolder ? Found::Folder : Found::File;
}

// One side of the replacement: looks, renames and deletes there.
class Side {
public:
    Side(CMyListView* pane, bool onFtp) : m_pane(pane), m_onFtp(onFtp) {}

    core::Task<Found> Kind(QString path) const {
        if (m_onFtp)
            co_return co_await FtpKind(path);
        co_return LocalKind(path);
    }

    // A temporary name beside path that nothing holds yet; empty when none is free.
    core::Task<QString> FreeSibling(QString path, QString tag) const {
        for (int attempt = 0; attempt < 8; ++attempt) {
            const QString name = transferpaths::TempSibling(path, tag);
            if (co_await Kind(name) == Found::Nothing)
                co_return name;
        }
        co_return QString();
    }

    // Never over something: a name that turned up meanwhile is refused, not lost.
    core::Task<bool> Rename(QString from, QString to) const {
        if (!m_onFtp)
            co_return core::RenameLocal(from, to).Ok();
        core::RemoteConnection* remote = AfxGetApp()->Site().Remote();
        const core::OpResult result = co_await core::RenameFtpJob(remote, from, to);
        co_return result.Ok();
    }

    // Deletes a folder (or a link, itself only) through the pane, which says why
    // when it cannot.
    core::Task<bool> Delete(QString path, bool isLink) const {
        int& force = m_onFtp ? m_pane->m_forceFtp : m_pane->m_forceLocal;
        force = 1;
        bool deleted = false;
        if (isLink)
            deleted = co_await m_pane->DeleteOneFile(path);
        else
            deleted = co_await m_pane->DeleteFolderTree(path + QLatin1Char('/'));
        force = 0;
        co_return deleted;
    }

    // Removes what a failed copy left under its temporary name, or says where it
    // is left when that cannot be done (and a later run removes it).
    core::Task<void> RemovePartial(QString path) const {
        const Found found = co_await Kind(path);
        bool removed = found == Found::Nothing;
        if (found == Found::Folder || found == Found::Link)
            removed = co_await Delete(path, found == Found::Link);
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
core::Task<bool> PutInPlace(const Side& side, CMyListView* pane, QString fresh,
                            QString destination, bool oldIsLink) {
    const QString aside = co_await side.FreeSibling(destination, QStringLiteral("old"));
    if (!aside.isEmpty())
        side.Note(aside, oldIsLink, destination);
    bool stepped = false;
    if (!aside.isEmpty())
        stepped = co_await side.Rename(destination, aside);
    if (!stepped) {
        side.Forget(aside);
        co_await side.RemovePartial(fresh);
        copymessages::ReplaceFailed(pane, destination);
        co_return false;
    }
    if (!co_await side.Rename(fresh, destination)) {
        const bool back = co_await side.Rename(aside, destination);
        // An old folder that could not go back is the user's only copy now: it
        // is named to the user and never removed as a leftover.
        side.Forget(aside);
        co_await side.RemovePartial(fresh);
        if (back)
            copymessages::ReplaceFailed(pane, destination);
        else
            copymessages::OldKeptAside(pane, destination, aside, true);
        co_return false;
    }
    side.Forget(fresh);
    // What could not be deleted is named to the user, and left to the user.
    if (!co_await side.Delete(aside, oldIsLink))
        copymessages::OldNotRemoved(pane, aside, true);
    side.Forget(aside);
    co_return true;
}

} // namespace

core::Task<bool> CopyFolderReplacing(CMyListView* pane, bool onFtp, QString destination,
                                     FolderCopier copy) {
    const Side side(pane, onFtp);
    const Found found = co_await side.Kind(destination);
    switch (found) {
    case Found::Nothing:
        co_return co_await copy(destination);
    case Found::File:
        copymessages::FileInTheWay(pane, destination);
        co_return false;
    case Found::LookupFailed:
        copymessages::FolderUnreadable(pane, transferpaths::ParentOf(destination));
        co_return false;
    case Found::Folder:
    case Found::Link:
        break;
    }
    const QString fresh = co_await side.FreeSibling(destination, QStringLiteral("new"));
    if (fresh.isEmpty()) {
        copymessages::ReplaceFailed(pane, destination);
        co_return false;
    }
    side.Note(fresh, false);
    if (!co_await copy(fresh)) {
        co_await side.RemovePartial(fresh);
        co_return false;
    }
    co_return co_await PutInPlace(side, pane, fresh, destination, found == Found::Link);
}
