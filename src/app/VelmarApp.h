#pragma once

#include <QString>
#include <atomic>
#include <functional>

#include "CommActivity.h"
#include "DirEntry.h"
#include "FtpSite.h"
#include "Profile.h"

class CFrameBase;
class CVelmarDoc;

// The application object: the state that the frame, the four panes, the dialogs
// and the status window share, and the FTP site they all work on. One instance
// at a time, reached through AfxGetApp().
class CVelmarApp {
public:
    CVelmarApp();
    ~CVelmarApp();
    CVelmarApp(const CVelmarApp&) = delete;
    CVelmarApp& operator=(const CVelmarApp&) = delete;

    int m_sortByName = 1;
    int m_sortByExtension = 0;
    int m_sortBySize = 0;
    int m_sortByDate = 0;
    QString m_sortType = QStringLiteral("1");
    QString m_version = QStringLiteral("5.5");
    qint32 m_splitterHeight = 240;
    qint32 m_splitterWidth = 320;
    QString m_profileFilePath;
    QString m_startupDir; // always ends in "/"

    // From the start of InitInstance until the main window's FTP side has first
    // connected and been read (or failed to): the first
    // connection shows its progress in the status window's message line, and the
    // first FTP listing is read without a window of its own.
    // Read by a job's view from its worker thread, hence atomic.
    bool IsStartingUp() const { return m_startingUp; }
    void SetStartingUp(bool startingUp) { m_startingUp = startingUp; }

    // Whether a communication holds the main window, and when that ends.
    CommActivity& Comm() { return m_comm; }
    const CommActivity& Comm() const { return m_comm; }

    // The session, the main connection, the active profile and what the panes
    // share about the FTP side.
    core::FtpSite& Site() { return m_site; }
    const core::FtpSite& Site() const { return m_site; }

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
    std::atomic<bool> m_startingUp{true};
    bool ReadOrCreateSettings();

    core::FtpSite m_site;
    CommActivity m_comm;
};

CVelmarApp* AfxGetApp();
