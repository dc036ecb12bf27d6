#pragma once

#include <QString>
#include <atomic>
#include <functional>
#include <vector>

#include "DirEntry.h"
#include "Profile.h"

class CFrameBase;
class CVelmarDoc;
class CInternetSession;
class CFtpConnection;

// The application object: the state that the frame, the four panes, the dialogs
// and the status window share, read and written directly. One instance at a
// time, reached through AfxGetApp().
class CVelmarApp {
public:
    CVelmarApp();
    ~CVelmarApp();
    CVelmarApp(const CVelmarApp&) = delete;
    CVelmarApp& operator=(const CVelmarApp&) = delete;

    int m_startingUp = 1;
    int m_resortInProgress = 0;
    int m_sortByName = 1;
    int m_sortByExtension = 0;
    int m_sortBySize = 0;
    int m_sortByDate = 0;
    int m_treeSelChanged = 0;
    std::atomic<int> m_connectError{0}; // written by the connect worker
    std::atomic<int> m_connectDone{0};  // written last by the connect worker
    QString m_sortType = QStringLiteral("1");
    QString m_version = QStringLiteral("5.5");
    qint32 m_splitterHeight = 240;
    qint32 m_splitterWidth = 320;
    int m_ftpUnavailable = 0;
    int m_ftpRebuildRequest = 0;
    QString m_profileFilePath;
    QString m_startupDir; // always ends in "/"
    int m_commInProgress = 0;
    QString m_ftpCurrentDir;
    DirEntry m_ftpEntry;
    std::vector<DirEntry> m_ftpListing;
    CInternetSession* m_session = nullptr;
    CFtpConnection* m_ftpConnection = nullptr;
    qint32 m_activeProfileIndex = 0;
    CProfile m_activeProfile;

    // The framework's parts: the main window and the one document.
    CFrameBase* m_pMainWnd = nullptr;
    CVelmarDoc* m_doc = nullptr;

    // Start-up steps that live in higher layers: loading the profile file, and
    // creating the document's frame with its panes (which runs their initial
    // updates). Both report their own errors and return false to end the program.
    std::function<bool(CVelmarApp&)> m_loadProfiles;
    std::function<bool(CVelmarApp&)> m_processShellCommand;

    bool InitInstance();
    int ExitInstance();
    void OnAppAbout();

    // Closes and deletes the main connection, then the session.
    void CloseFtp();
    // Sets the sort flags from a SortType text: only "1" to "4" set a flag.
    void ApplySortType(const QString& sortType);
    // The start-up working directory for a current directory: with one trailing "/".
    static QString StartupDirFor(const QString& currentDir);
    // The window title for the active profile.
    QString MainTitle() const;

    static void ReportRegistryError();
    static void ReportDependencyFileError();

    static constexpr const char* kRegistryKey = "SOFTWARE\\Velmar98a";

private:
    bool ReadOrCreateSettings();
};

CVelmarApp* AfxGetApp();
