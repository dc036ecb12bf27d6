#include "VelmarApp.h"

#include <QDir>
#include <QMainWindow>

#include "AboutDlg.h"
#include "FrameBase.h"
#include "MessageBox.h"
#include "Registry.h"
#include "TempJournal.h"
#include "VelmarDoc.h"
#include "WaitCursor.h"

namespace {
CVelmarApp* g_app = nullptr;
const QString kAppTitle = QStringLiteral("Velmar98");
} // namespace

CVelmarApp* AfxGetApp() {
    return g_app;
}

CVelmarApp::CVelmarApp() {
    g_app = this;
}

CVelmarApp::~CVelmarApp() {
    // The frame saves its settings as it goes and its panes still use the document.
    delete m_pMainWnd;
    m_pMainWnd = nullptr;
    delete m_doc;
    m_doc = nullptr;
    m_site.Close();
    if (g_app == this)
        g_app = nullptr;
}

void CVelmarApp::ReportRegistryError() {
    MessageBox(nullptr, QStringLiteral("A Windows Registry Error was encountered."), kAppTitle,
               MB_OK | MB_ICONHAND);
}

void CVelmarApp::ReportDependencyFileError() {
    MessageBox(nullptr,
               QStringLiteral("The program was unable to create a required Dependency File."),
               kAppTitle, MB_OK | MB_ICONHAND);
}

void CVelmarApp::ApplySortType(const QString& sortType) {
    m_sortByName = 0;
    m_sortByExtension = sortType == QStringLiteral("2");
    m_sortBySize = sortType == QStringLiteral("3");
    m_sortByDate = sortType == QStringLiteral("4");
    m_sortByName = sortType == QStringLiteral("1");
}

QString CVelmarApp::StartupDirFor(const QString& currentDir) {
    if (currentDir.endsWith(QLatin1Char('/')))
        return currentDir;
    return currentDir + QLatin1Char('/');
}

QString CVelmarApp::MainTitle() const {
    return QStringLiteral("Velmar98 - ") + m_site.Profile().m_name;
}

bool CVelmarApp::ReadOrCreateSettings() {
    CRegKey key;
    const QString path = QString::fromLatin1(kRegistryKey);
    if (key.Open(path)) {
        bool ok = key.QueryString(QStringLiteral("SortType"), &m_sortType);
        if (ok)
            ApplySortType(m_sortType);
        ok = ok && key.QueryString(QStringLiteral("Version"), &m_version);
        ok = ok && key.QueryDword(QStringLiteral("SplitterWidth"), &m_splitterWidth);
        ok = ok && key.QueryDword(QStringLiteral("SplitterHeight"), &m_splitterHeight);
        if (!ok) {
            ReportRegistryError();
            return false;
        }
        key.Close();
        return true;
    }
    if (!key.Create(path)) {
        ReportRegistryError();
        return false;
    }
    const bool written = key.SetString(QStringLiteral("SortType"), QStringLiteral("1")) &&
                         key.SetString(QStringLiteral("Version"), QStringLiteral("5.5")) &&
                         key.SetDword(QStringLiteral("SplitterWidth"), 320) &&
                         key.SetDword(QStringLiteral("SplitterHeight"), 240);
    if (!written || !key.Close()) {
        ReportRegistryError();
        return false;
    }
    return true;
}

bool CVelmarApp::InitInstance() {
    CWaitCursor wait;
    SetStartingUp(true);
    m_sortByName = 1;
    m_sortByExtension = m_sortBySize = m_sortByDate = 0;
    m_sortType = QStringLiteral("1");
    m_splitterWidth = 320;
    m_splitterHeight = 240;
    m_site.TakeRebuildRequest();

    m_startupDir = StartupDirFor(QDir::currentPath());
    m_profileFilePath = m_startupDir + QStringLiteral("Profiles.dat");

    if (!ReadOrCreateSettings())
        return false;
    // What a killed run left beside the user's files, once its maker is gone.
    tempjournal::SweepLocalOnce();
    if (m_loadProfiles && !m_loadProfiles(*this))
        return false;
    if (!m_doc)
        m_doc = new CVelmarDoc;
    if (m_processShellCommand && !m_processShellCommand(*this))
        return false;
    if (m_pMainWnd) {
        m_pMainWnd->showMaximized();
        m_pMainWnd->update();
        m_pMainWnd->setWindowTitle(MainTitle());
    } else {
        // No window: nothing goes on starting up (a window ends its start-up when
        // its FTP side has connected).
        SetStartingUp(false);
    }
    return true;
}

int CVelmarApp::ExitInstance() {
    m_site.Close();
    return 0;
}

void CVelmarApp::OnAppAbout() {
    CAboutDlg dlg(m_pMainWnd);
    dlg.exec();
}
