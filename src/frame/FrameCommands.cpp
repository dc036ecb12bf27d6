// The menu commands that act on several panes at once.
#include <QCoreApplication>
#include <QFileInfo>

#include "HelpWindow.h"
#include "MainFrame.h"
#include "MyListView.h"
#include "MyTreeView.h"
#include "VelmarApp.h"
#include "WaitCursor.h"

namespace {
// The program's own help file: its path with the extension ".HLP".
QString FrameworkHelpFile() {
    const QFileInfo program(QCoreApplication::applicationFilePath());
    return program.path() + QLatin1Char('/') + program.completeBaseName() + QStringLiteral(".HLP");
}
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
    m_app->m_resortInProgress = 1;
    if (CMyListView* local = LocalList())
        local->Populate(local->m_path);
    if (CMyListView* ftp = FtpList())
        ftp->Populate(ftp->m_path);
    m_app->m_resortInProgress = 0;
}

void CMainFrame::OnRefresh() {
    CWaitCursor wait;
    if (CMyTreeView* local = LocalTree()) {
        local->BuildTree();
        local->SelectStartItem();
    }
    m_app->Site().RequestRebuild();
    ReconnectFtpSide();
}

void CMainFrame::ReconnectFtpSide() {
    setWindowTitle(m_app->MainTitle());
    m_app->Site().Close();
    CMyTreeView* tree = FtpTree();
    if (!tree)
        return;
    if (!tree->BuildTree()) {
        m_app->Site().SetUnavailable(true);
        return;
    }
    m_app->m_treeSelChanged = 0;
    tree->SelectStartItem();
    if (!m_app->m_treeSelChanged)
        tree->ShowSelectionInList();
    m_app->Site().SetUnavailable(false);
}

void CMainFrame::OnHelpContents() {
    WinHelp(this, FrameworkHelpFile(), HELP_CONTENTS);
}

void CMainFrame::OnHelpSearch() {
    WinHelp(this, FrameworkHelpFile(), HELP_FINDER);
}

void CMainFrame::OnProfiles() {
    CWaitCursor wait;
    RunProfilesDialog();
    if (m_app->Site().IsRebuildRequested())
        ReconnectFtpSide();
}
