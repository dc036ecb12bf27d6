#pragma once

#include "Task.h"

#include <QLabel>

#include "FrameBase.h"

class CSplitter2x2;
class CMyListView;
class CMyTreeView;
class CVelmarApp;
class QAction;

// Command ids of the menu bar; each action carries its id as objectName.
enum FrameCommand : int {
    ID_PROFILES = 32778,
    ID_SORT_NAME = 32782,
    ID_SORT_EXTENSION = 32783,
    ID_SORT_SIZE = 32784,
    ID_SORT_DATE = 32785,
    ID_REFRESH = 32771,
    ID_OPTIONS = 32790,
    ID_HELP_INDEX = 57666,
    ID_HELP_FINDER = 57667,
    ID_HELP_USING = 57671,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_NEXT_PANE = 57680,
    ID_PREV_PANE = 57681,
};

// The main window: the 2 x 2 splitter with the four panes, the status bar and the
// menu bar. Saves the splitter sizes and the sort setting when it is destroyed.
class CMainFrame : public CFrameBase {
    Q_OBJECT
public:
    explicit CMainFrame(CVelmarApp* app);
    ~CMainFrame() override;

    // Creates the splitter and the four panes, then runs their initial updates in
    // the order they were created.
    bool OnCreateClient();
    // Ends when the FTP side has connected (or failed to) and both lists show
    // their start folders.
    core::Task<void> InitialUpdate();

    void SetPaneText(int pane, const QString& text) override;
    QString PaneText(int pane) const override;
    QWidget* GetPane(int row, int column) const override;
    void SetActiveView(QWidget* pane) override;

    CMyTreeView* LocalTree() const;
    CMyListView* LocalList() const;
    CMyTreeView* FtpTree() const;
    CMyListView* FtpList() const;
    CSplitter2x2* Splitter() const { return m_wndSplitter; }
    QAction* Action(int id) const;

    // Menu commands. Those that reach the server start a task and return.
    void OnProfiles();
    core::Task<void> Profiles();
    void OnSortBy(int id);
    void OnRefresh();
    core::Task<void> Refresh();
    void OnOptions();
    core::Task<void> ReconnectFtpSide();
    // A rebuild of the FTP side asked for through the site: done here unless
    // someone who holds the window now will do it on their way out.
    void OnRebuildRequested();
    void ResortLists();
    void OnHelpContents();
    void OnHelpSearch();
    void OnNextPane(int step);

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateMenus();
    void RunProfilesDialog();
    QAction* AddCommand(QMenu* menu, int id, const QString& text, const QString& prompt);
    void UpdateSortChecks();
    void SaveSettings();
    void ListenToTheSite();

    CVelmarApp* m_app;
    CSplitter2x2* m_wndSplitter = nullptr;
    QLabel* m_panes[3] = {nullptr, nullptr, nullptr};
    QLabel* m_security = nullptr; // "Encrypted (TLS)", "Not encrypted" or nothing
    // Set while a command that rebuilds the FTP side itself (Refresh, Profiles,
    // the reconnect) runs; a request seen meanwhile is theirs.
    int m_rebuildOwners = 0;
};
