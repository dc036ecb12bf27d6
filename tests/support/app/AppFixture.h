#pragma once

#include <QString>
#include <QTemporaryDir>
#include <memory>

#include "MessageBoxRecorder.h"

class CVelmarApp;
class CMainFrame;
class CMyListView;
class CMyTreeView;

// A whole program for widget tests: a fresh application object whose start-up
// folder is a temporary folder, the active profile set by the test, and the real
// main frame with its four panes (offscreen). Message boxes are answered by the
// recorder.
class AppFixture {
public:
    AppFixture();
    ~AppFixture();

    // Sets the active profile (an empty user logs in anonymously).
    void SetProfile(const QString& address, const QString& user = QString(),
                    const QString& password = QString(), const QString& initialDir = QString(),
                    const QString& name = QStringLiteral("Test Site"));
    // Writes a profile file whose one (default) profile points at a closed local
    // port, so that a start-up's connection fails at once, off the network.
    void WriteOfflineProfile(const QString& name = QStringLiteral("Offline"));
    // Creates the frame and runs the panes' initial updates, as start-up does
    // (the starting-up flag is set meanwhile, then cleared). False if it failed.
    bool Start();
    // The full start-up sequence (settings, profile file, frame) from the start-up
    // folder, as the program runs it.
    bool InitInstance();

    CVelmarApp& App() { return *m_app; }
    CMainFrame* Frame() const;
    CMyTreeView* LocalTree() const;
    CMyListView* LocalList() const;
    CMyTreeView* FtpTree() const;
    CMyListView* FtpList() const;
    QString StartupDir() const { return m_dir.path() + QLatin1Char('/'); }
    MessageBoxRecorder& Boxes() { return m_boxes; }

private:
    QTemporaryDir m_dir;
    QString m_oldCwd;
    MessageBoxRecorder m_boxes;
    std::unique_ptr<CVelmarApp> m_app;
};
