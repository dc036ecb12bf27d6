// The menu commands that act on several panes at once.
#include <QCoreApplication>
#include <QFileInfo>

#include "HelpWindow.h"
#include "MainFrame.h"
#include "MyListView.h"
#include "MyTreeView.h"
#include "OptionsDlg.h"
#include "VelmarApp.h"
#include "WaitCursor.h"

namespace {
// The program's own help file: its path with the extension ".HLP".
QString FrameworkHelpFile() {
    const QFileInfo program(QCoreApplication::applicationFilePath());
    return program.path() + QLatin1Char('/') + program.completeBaseName() + QStringLiteral(".HLP");
}

// Counts its holder among those who rebuild the FTP side themselves.
class RebuildOwner {
public:
    explicit RebuildOwner(int& owners) : m_owners(owners) { ++m_owners; }
    ~RebuildOwner() { --m_owners; }
    RebuildOwner(const RebuildOwner&) = delete;
    RebuildOwner& operator=(const RebuildOwner&) = delete;

private:
    int& m_owners;
};
} // namespace

void CMainFrame::OnSortBy(int id) {
    m_app->m_sortByName = id == ID_SORT_NAME;
    m_app->m_sortByExtension = id == ID_SORT_EXTENSION;
    m_app->m_sortBySize = id == ID_SORT_SIZE;
    m_app->m_sortByDate = id == ID_SORT_DATE;
    m_app->m_sortType = QString::number(id - ID_SORT_NAME + 1);
    UpdateSortChecks();
    ResortLists();
}

void CMainFrame::ResortLists() {
    if (CMyListView* local = LocalList())
        local->Resort();
    if (CMyListView* ftp = FtpList())
        ftp->Resort();
}

void CMainFrame::OnRefresh() {
    Refresh().Spawn();
}

core::Task<void> CMainFrame::Refresh() {
    CWaitCursor wait;
    RebuildOwner owner(m_rebuildOwners);
    if (CMyTreeView* local = LocalTree()) {
        co_await local->BuildTree();
        local->SelectStartItem();
    }
    m_app->Site().RequestRebuild();
    co_await ReconnectFtpSide();
}

core::Task<void> CMainFrame::ReconnectFtpSide() {
    RebuildOwner owner(m_rebuildOwners);
    setWindowTitle(m_app->MainTitle());
    m_app->Site().Close();
    CMyTreeView* tree = FtpTree();
    if (!tree)
        co_return;
    if (!co_await tree->BuildTree()) {
        m_app->Site().SetUnavailable(true);
        co_return;
    }
    co_await tree->ShowStartItem();
    m_app->Site().SetUnavailable(false);
}

void CMainFrame::OnRebuildRequested() {
    if (m_rebuildOwners > 0 || m_app->IsStartingUp() || m_app->Comm().InProgress())
        return;
    if (m_app->Site().IsRebuildRequested() && FtpTree())
        ReconnectFtpSide().Spawn();
}

void CMainFrame::OnHelpContents() {
    WinHelp(this, FrameworkHelpFile(), HELP_CONTENTS);
}

void CMainFrame::OnHelpSearch() {
    WinHelp(this, FrameworkHelpFile(), HELP_FINDER);
}

void CMainFrame::OnProfiles() {
    Profiles().Spawn();
}

core::Task<void> CMainFrame::Profiles() {
    CWaitCursor wait;
    RebuildOwner owner(m_rebuildOwners);
    RunProfilesDialog();
    if (m_app->Site().IsRebuildRequested())
        co_await ReconnectFtpSide();
}

void CMainFrame::OnOptions() {
    COptionsDlg dlg(m_app, this);
    dlg.exec();
}
