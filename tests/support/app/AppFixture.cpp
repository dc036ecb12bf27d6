#include "AppFixture.h"

#include "Await.h"

#include <QDir>

#include "MainFrame.h"
#include "MyListView.h"
#include "MyTreeView.h"
#include "ProfileFile.h"
#include "Startup.h"
#include "VelmarApp.h"
#include "VelmarDoc.h"

AppFixture::AppFixture() : m_oldCwd(QDir::currentPath()), m_app(std::make_unique<CVelmarApp>()) {
    QDir::setCurrent(m_dir.path());
    m_app->m_startupDir = StartupDir();
    m_app->m_profileFilePath = StartupDir() + QStringLiteral("Profiles.dat");
}

AppFixture::~AppFixture() {
    // What a test's last command started ends before the windows go.
    AwaitSpawned();
    m_app.reset();
    QDir::setCurrent(m_oldCwd);
}

void AppFixture::SetProfile(const QString& address, const QString& user, const QString& password,
                            const QString& initialDir, const QString& name) {
    CProfile p = m_app->Site().Profile();
    p.m_name = name;
    p.m_address = address;
    p.m_anonymous = user.isEmpty() ? 1 : 0;
    p.m_userId = user;
    p.m_password = password;
    p.m_initialDir = initialDir;
    p.m_default = p.m_active = 1;
    m_app->Site().SetProfile(p);
}

void AppFixture::WriteOfflineProfile(const QString& name) {
    CProfile p;
    p.m_name = name;
    p.m_address = QStringLiteral("127.0.0.1:1");
    p.m_anonymous = 1;
    p.m_default = p.m_active = 1;
    SaveProfileList(StartupDir() + QStringLiteral("Profiles.dat"), {p});
}

bool AppFixture::Start() {
    m_app->SetStartingUp(true);
    if (!m_app->m_doc)
        m_app->m_doc = new CVelmarDoc;
    const bool ok = CreateMainFrame(*m_app);
    AwaitSpawned(); // the start-up's connection and first listings
    if (m_app->m_pMainWnd) {
        m_app->m_pMainWnd->resize(1200, 800);
        m_app->m_pMainWnd->show();
        m_app->m_pMainWnd->setWindowTitle(m_app->MainTitle());
    }
    m_app->SetStartingUp(false);
    return ok;
}

bool AppFixture::InitInstance() {
    InstallStartupHooks(*m_app);
    const bool ok = m_app->InitInstance();
    AwaitSpawned();
    return ok;
}

CMainFrame* AppFixture::Frame() const {
    return static_cast<CMainFrame*>(m_app->m_pMainWnd);
}
CMyTreeView* AppFixture::LocalTree() const {
    return Frame() ? Frame()->LocalTree() : nullptr;
}
CMyListView* AppFixture::LocalList() const {
    return Frame() ? Frame()->LocalList() : nullptr;
}
CMyTreeView* AppFixture::FtpTree() const {
    return Frame() ? Frame()->FtpTree() : nullptr;
}
CMyListView* AppFixture::FtpList() const {
    return Frame() ? Frame()->FtpList() : nullptr;
}
