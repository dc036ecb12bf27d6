#include "MainFrame.h"
#include "WaitCursor.h"

#include <QAbstractItemDelegate>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QMenuBar>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QWindowStateChangeEvent>

#include "InputHold.h"
#include "Job.h"
#include "MyListView.h"
#include "MyTreeView.h"
#include "Registry.h"
#include "Splitter2x2.h"
#include "VelmarApp.h"
#include "VelmarDoc.h"

namespace {
const char* const kPaneSizers[3] = {"", "Local: 10000 Items ", "FTP: 15000 Items "};
}

CMainFrame::CMainFrame(CVelmarApp* app) : m_app(app) {
    setObjectName(QStringLiteral("mainFrame"));
    new InputHold(this);
    setWindowIcon(CVelmarDoc::AppIcon());
    setWindowTitle(QStringLiteral("Velmar98"));
    auto* bar = new QStatusBar(this);
    bar->setObjectName(QStringLiteral("statusBar"));
    bar->setSizeGripEnabled(true);
    const QString names[3] = {QStringLiteral("Status"), QStringLiteral("Local item count"),
                              QStringLiteral("FTP item count")};
    for (int i = 0; i < 3; ++i) {
        m_panes[i] = new QLabel(bar);
        m_panes[i]->setObjectName(QStringLiteral("statusPane%1").arg(i));
        m_panes[i]->setAccessibleName(names[i]);
        m_panes[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        if (i == 0) {
            m_panes[i]->setText(QStringLiteral("Ready"));
            m_panes[i]->setAccessibleDescription(m_panes[i]->text());
            bar->addPermanentWidget(m_panes[i], 1);
        } else {
            const QString sizer = QString::fromLatin1(kPaneSizers[i]);
            m_panes[i]->setText(sizer);
            m_panes[i]->setAccessibleDescription(sizer);
            m_panes[i]->setMinimumWidth(QFontMetrics(m_panes[i]->font()).horizontalAdvance(sizer) +
                                        8);
            bar->addPermanentWidget(m_panes[i], 0);
        }
    }
    // Whether the FTP side is encrypted, kept up to date with every status text.
    m_security = new QLabel(bar);
    m_security->setObjectName(QStringLiteral("securityPane"));
    m_security->setAccessibleName(QStringLiteral("FTP encryption"));
    m_security->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bar->addPermanentWidget(m_security, 0);
    setStatusBar(bar);
    CreateMenus();
    ListenToTheSite();
}

void CMainFrame::ListenToTheSite() {
    // Queued: a request may come from a worker, and one made on this thread is
    // answered after the code path that made it, never in the middle of it. A
    // request that finds a communication running waits for its end.
    connect(&m_app->Site(), &core::FtpSite::rebuildRequested, this, &CMainFrame::OnRebuildRequested,
            Qt::QueuedConnection);
    connect(&m_app->Comm(), &CommActivity::ended, this, &CMainFrame::OnRebuildRequested,
            Qt::QueuedConnection);
}

CMainFrame::~CMainFrame() {
    SaveSettings();
    // The window is hidden on its way out while the panes still stand; a label
    // edit left open would end then, and call back into a frame that is gone.
    for (QAbstractItemView* view : findChildren<QAbstractItemView*>())
        if (QAbstractItemDelegate* delegate = view->itemDelegate())
            delegate->disconnect(view);
}

QAction* CMainFrame::AddCommand(QMenu* menu, int id, const QString& text, const QString& prompt) {
    auto* action = new QAction(text, this);
    action->setObjectName(QString::number(id));
    action->setStatusTip(prompt);
    if (menu)
        menu->addAction(action);
    else
        menuBar()->addAction(action);
    return action;
}

QAction* CMainFrame::Action(int id) const {
    return findChild<QAction*>(QString::number(id));
}

void CMainFrame::CreateMenus() {
    QMenuBar* bar = menuBar();
    bar->setAccessibleName(QStringLiteral("Menu bar"));
    connect(AddCommand(nullptr, ID_PROFILES, QStringLiteral("&Profiles"),
                       QStringLiteral("Create, edit and choose FTP site profiles")),
            &QAction::triggered, this, &CMainFrame::OnProfiles);

    QMenu* sort = bar->addMenu(QStringLiteral("&Sort By"));
    const struct {
        int id;
        const char* text;
        const char* prompt;
    } sorts[] = {{ID_SORT_NAME, "&Name", "Sort By Name"},
                 {ID_SORT_EXTENSION, "&Extension", "Sort By Extension"},
                 {ID_SORT_SIZE, "&Size", "Sort By Size"},
                 {ID_SORT_DATE, "&Date", "Sort By Date"}};
    for (const auto& s : sorts) {
        QAction* a =
            AddCommand(sort, s.id, QString::fromLatin1(s.text), QString::fromLatin1(s.prompt));
        a->setCheckable(true);
        const int id = s.id;
        connect(a, &QAction::triggered, this, [this, id] { OnSortBy(id); });
    }
    connect(sort, &QMenu::aboutToShow, this, &CMainFrame::UpdateSortChecks);

    QAction* refresh = AddCommand(nullptr, ID_REFRESH, QStringLiteral("&Refresh"),
                                  QStringLiteral("Re-display all panes to reflect current data"));
    refresh->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    refresh->setShortcutContext(Qt::ApplicationShortcut);
    connect(refresh, &QAction::triggered, this, &CMainFrame::OnRefresh);
    connect(AddCommand(nullptr, ID_OPTIONS, QStringLiteral("&Options"),
                       QStringLiteral("Change the program's settings")),
            &QAction::triggered, this, &CMainFrame::OnOptions);

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    QAction* contents = AddCommand(help, ID_HELP_INDEX, QStringLiteral("&Contents"),
                                   QStringLiteral("List Help Topics"));
    contents->setShortcut(QKeySequence(Qt::Key_F1));
    connect(contents, &QAction::triggered, this, &CMainFrame::OnHelpContents);
    connect(AddCommand(help, ID_HELP_FINDER, QStringLiteral("&Search"),
                       QStringLiteral("Search Help Topics")),
            &QAction::triggered, this, &CMainFrame::OnHelpSearch);
    help->addSeparator();
    connect(AddCommand(help, ID_APP_ABOUT, QStringLiteral("&About Velmar98..."),
                       QStringLiteral("Display program information, version number and copyright")),
            &QAction::triggered, this, [this] { m_app->OnAppAbout(); });

    connect(AddCommand(nullptr, ID_APP_EXIT, QStringLiteral("E&xit"),
                       QStringLiteral("Quit the application")),
            &QAction::triggered, this, &QWidget::close);

    // Commands without a menu entry: the default help and pane cycling.
    QAction* usingHelp = AddCommand(nullptr, ID_HELP_USING, QStringLiteral("Help"), QString());
    menuBar()->removeAction(usingHelp);
    addAction(usingHelp);
    connect(usingHelp, &QAction::triggered, this, &CMainFrame::OnHelpContents);
    QAction* next = AddCommand(nullptr, ID_NEXT_PANE, QStringLiteral("Next Pane"),
                               QStringLiteral("Switch to the next window pane"));
    QAction* prev = AddCommand(nullptr, ID_PREV_PANE, QStringLiteral("Previous Pane"),
                               QStringLiteral("Switch back to the previous window pane"));
    for (QAction* a : {next, prev}) {
        menuBar()->removeAction(a);
        addAction(a);
        a->setShortcutContext(Qt::WindowShortcut);
    }
    next->setShortcut(QKeySequence(Qt::Key_F6));
    prev->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6));
    connect(next, &QAction::triggered, this, [this] { OnNextPane(1); });
    connect(prev, &QAction::triggered, this, [this] { OnNextPane(-1); });
    UpdateSortChecks();
}

void CMainFrame::UpdateSortChecks() {
    const int flags[4] = {m_app->m_sortByName, m_app->m_sortByExtension, m_app->m_sortBySize,
                          m_app->m_sortByDate};
    const int ids[4] = {ID_SORT_NAME, ID_SORT_EXTENSION, ID_SORT_SIZE, ID_SORT_DATE};
    for (int i = 0; i < 4; ++i)
        if (QAction* a = Action(ids[i]))
            a->setChecked(flags[i] != 0);
}

bool CMainFrame::OnCreateClient() {
    m_wndSplitter = new CSplitter2x2(this);
    CVelmarDoc* doc = m_app->m_doc;
    m_wndSplitter->SetPane(0, 0, new CMyTreeView(doc, this));
    m_wndSplitter->SetPane(0, 1, new CMyListView(doc, this));
    m_wndSplitter->SetPane(1, 0, new CMyTreeView(doc, this));
    m_wndSplitter->SetPane(1, 1, new CMyListView(doc, this));
    const char* const names[2][2] = {{"Local folders", "Local files"},
                                     {"FTP folders", "FTP files"}};
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 2; ++c) {
            QWidget* pane = m_wndSplitter->GetPane(r, c);
            pane->setObjectName(QStringLiteral("pane%1%2").arg(r).arg(c));
            pane->setAccessibleName(QString::fromLatin1(names[r][c]));
        }
    m_wndSplitter->SetInitialSizes(m_app->m_splitterWidth, m_app->m_splitterHeight);
    setCentralWidget(m_wndSplitter);
    SetActiveView(m_wndSplitter->GetPane(0, 0));
    return true;
}

core::Task<void> CMainFrame::InitialUpdate() {
    CWaitCursor wait;
    for (int row = 0; row < 2; ++row) {
        CMyTreeView* tree = row == 0 ? LocalTree() : FtpTree();
        tree->OnInitialUpdate();
        const bool built = co_await tree->BuildTree();
        if (!built)
            m_app->Site().SetUnavailable(true);
        (row == 0 ? LocalList() : FtpList())->OnInitialUpdate();
    }
}

void CMainFrame::SetPaneText(int pane, const QString& text) {
    if (pane < 0 || pane > 2)
        return;
    m_panes[pane]->setText(text);
    // The pane keeps its fixed name; a screen reader reads the text from here.
    m_panes[pane]->setAccessibleDescription(text);
    m_panes[pane]->repaint();
    // Values the site keeps for any thread: the connection itself belongs to the
    // operation that runs on it.
    const bool connected = m_app && m_app->Site().IsConnected();
    const QString encryption = connected ? m_app->Site().Encryption() : QString();
    const QString lock = !connected            ? QString()
                         : !encryption.isEmpty() ? QStringLiteral("Encrypted (%1)").arg(encryption)
                                                 : QStringLiteral("Not encrypted");
    m_security->setText(lock);
    const QString server = encryption == QLatin1String("SSH") ? QStringLiteral("SFTP")
                                                                : QStringLiteral("FTP");
    m_security->setToolTip(
        !connected ? QString()
        : !encryption.isEmpty()
            ? QStringLiteral("The connection to the %1 server is encrypted.").arg(server)
            : QStringLiteral("The connection to the %1 server is not encrypted: passwords and "
                             "files travel in clear.")
                  .arg(server));
    m_security->setAccessibleDescription(lock);
}

QString CMainFrame::PaneText(int pane) const {
    return (pane >= 0 && pane <= 2) ? m_panes[pane]->text() : QString();
}

QWidget* CMainFrame::GetPane(int row, int column) const {
    return m_wndSplitter ? m_wndSplitter->GetPane(row, column) : nullptr;
}

void CMainFrame::SetActiveView(QWidget* pane) {
    if (pane)
        pane->setFocus(Qt::OtherFocusReason);
}

CMyTreeView* CMainFrame::LocalTree() const {
    return qobject_cast<CMyTreeView*>(GetPane(0, 0));
}
CMyListView* CMainFrame::LocalList() const {
    return qobject_cast<CMyListView*>(GetPane(0, 1));
}
CMyTreeView* CMainFrame::FtpTree() const {
    return qobject_cast<CMyTreeView*>(GetPane(1, 0));
}
CMyListView* CMainFrame::FtpList() const {
    return qobject_cast<CMyListView*>(GetPane(1, 1));
}

void CMainFrame::OnNextPane(int step) {
    const QWidget* order[4] = {GetPane(0, 0), GetPane(0, 1), GetPane(1, 0), GetPane(1, 1)};
    int current = -1;
    for (int i = 0; i < 4; ++i)
        if (order[i] &&
            (order[i]->hasFocus() || order[i]->isAncestorOf(QApplication::focusWidget())))
            current = i;
    const int next = ((current < 0 ? 0 : current + step) % 4 + 4) % 4;
    SetActiveView(const_cast<QWidget*>(order[next]));
}

bool CMainFrame::event(QEvent* event) {
    // Menu prompts go to the message pane; leaving the menu puts "Ready" back.
    if (event->type() == QEvent::StatusTip) {
        const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
        if (!m_app->Comm().InProgress())
            SetPaneText(0, tip.isEmpty() ? QStringLiteral("Ready") : tip);
        return true;
    }
    return CFrameBase::event(event);
}

void CMainFrame::changeEvent(QEvent* event) {
    // A window minimised during a transfer comes back disabled until it ends.
    if (event->type() == QEvent::WindowStateChange) {
        auto* change = static_cast<QWindowStateChangeEvent*>(event);
        if ((change->oldState() & Qt::WindowMinimized) && !(windowState() & Qt::WindowMinimized) &&
            m_app->Comm().InProgress())
            setEnabled(false);
    }
    CFrameBase::changeEvent(event);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    // A running communication still uses the panes and the connection; the window
    // closes once it has ended.
    if (m_app->Comm().InProgress() || core::JobRunning()) {
        event->ignore();
        return;
    }
    event->accept();
}

void CMainFrame::SaveSettings() {
    if (!m_wndSplitter)
        return;
    const int width = m_wndSplitter->Column0Width();
    const int height = m_wndSplitter->Row0Height();
    CRegKey key;
    const bool ok = key.Open(QString::fromLatin1(CVelmarApp::kRegistryKey)) &&
                    key.SetDword(QStringLiteral("SplitterWidth"), width) &&
                    key.SetDword(QStringLiteral("SplitterHeight"), height) &&
                    key.SetString(QStringLiteral("SortType"), m_app->m_sortType);
    if (!ok)
        CVelmarApp::ReportRegistryError();
    if (key.IsOpen() && !key.Close() && ok)
        CVelmarApp::ReportRegistryError();
}
