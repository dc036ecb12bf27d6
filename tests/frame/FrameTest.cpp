#include <QAction>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QSettings>
#include <QSignalSpy>
#include <QSplitter>
#include <QTest>
#include <gtest/gtest.h>
#include <optional>

#include "AppFixture.h"
#include "CommActivity.h"
#include "MainFrame.h"
#include "MyListView.h"
#include "Registry.h"
#include "Splitter2x2.h"
#include "VelmarApp.h"

namespace {
QString Stored(const QString& name) {
    QSettings s(CRegKey::StoreFilePath(), QSettings::IniFormat);
    return s.value(QStringLiteral("SOFTWARE/Velmar98a/") + name).toString();
}

struct Started {
    AppFixture f;
    Started() {
        f.WriteOfflineProfile();
        EXPECT_TRUE(f.InitInstance());
        QTest::qWait(50);
    }
};

TEST(MainFrame, FirstRunSizesThenMovedSizesAreKeptForTheNextRun) {
    {
        Started s;
        CSplitter2x2* split = s.f.Frame()->Splitter();
        EXPECT_EQ(split->Column0Width(), 320);
        EXPECT_EQ(split->Row0Height(), 240);
        // Moving the bar of one row moves the other row's bar too.
        split->Row(1)->setSizes({250, 500});
        emit split->Row(1)->splitterMoved(250, 1);
        EXPECT_EQ(split->Row(0)->sizes().value(0), split->Row(1)->sizes().value(0));
        split->setSizes({180, 300});
    }
    const int savedWidth = Stored(QStringLiteral("SplitterWidth")).toInt();
    EXPECT_NE(savedWidth, 320);
    EXPECT_EQ(Stored(QStringLiteral("SplitterHeight")).toInt(), 180);
    Started again;
    EXPECT_EQ(again.f.App().m_splitterWidth, savedWidth);
    EXPECT_EQ(again.f.Frame()->Splitter()->Column0Width(), savedWidth);
    EXPECT_EQ(again.f.Frame()->Splitter()->Row0Height(), 180);
}

TEST(MainFrame, AKeyRemovedWhileRunningGivesOneMessageAtExitAndWritesNothing) {
    auto s = std::make_unique<Started>();
    ASSERT_TRUE(QFile::remove(CRegKey::StoreFilePath()));
    s->f.Boxes().Clear();
    delete s->f.App().m_pMainWnd;
    s->f.App().m_pMainWnd = nullptr;
    EXPECT_EQ(s->f.Boxes().Captions(), QStringList{QStringLiteral("Velmar98")});
    EXPECT_FALSE(QFile::exists(CRegKey::StoreFilePath()));
}

TEST(MainFrame, AFailingWriteAtExitStopsTheLaterValuesAndReportsOnce) {
    auto s = std::make_unique<Started>();
    s->f.App().m_sortType = QStringLiteral("3");
    s->f.Frame()->Splitter()->Row(0)->setSizes({200, 600});
    CRegKey::FailNext(CRegKey::Op::Set); // the first write, SplitterWidth
    s->f.Boxes().Clear();
    delete s->f.App().m_pMainWnd;
    s->f.App().m_pMainWnd = nullptr;
    EXPECT_EQ(s->f.Boxes().CountCaption(QStringLiteral("Velmar98")), 1);
    EXPECT_EQ(Stored(QStringLiteral("SplitterWidth")), QStringLiteral("320"));
    EXPECT_EQ(Stored(QStringLiteral("SortType")), QStringLiteral("1"));
}

TEST(MainFrame, StatusBarPanesAndTitle) {
    Started s;
    CMainFrame* frame = s.f.Frame();
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Velmar98 - Offline"));
    frame->SetPaneText(0, QStringLiteral("Copying Files - Please Wait"));
    EXPECT_EQ(frame->PaneText(0), QStringLiteral("Copying Files - Please Wait"));
    // The panes keep fixed names; a screen reader reads their text as the description.
    auto* pane0 = frame->findChild<QLabel*>(QStringLiteral("statusPane0"));
    ASSERT_NE(pane0, nullptr);
    EXPECT_EQ(pane0->accessibleName(), QStringLiteral("Status"));
    EXPECT_EQ(pane0->accessibleDescription(), QStringLiteral("Copying Files - Please Wait"));
    auto* pane1 = frame->findChild<QLabel*>(QStringLiteral("statusPane1"));
    auto* pane2 = frame->findChild<QLabel*>(QStringLiteral("statusPane2"));
    ASSERT_NE(pane1, nullptr);
    ASSERT_NE(pane2, nullptr);
    // The sizing texts only size the panes: the counts fit in them.
    EXPECT_GE(pane1->width(),
              pane1->fontMetrics().horizontalAdvance(QStringLiteral("Local: 10000 Items")));
    EXPECT_GE(pane2->width(),
              pane2->fontMetrics().horizontalAdvance(QStringLiteral("FTP: 15000 Items")));
}

TEST(MainFrame, MenuBarEntriesInOrderWithTheirIdsAndPrompts) {
    Started s;
    CMainFrame* frame = s.f.Frame();
    QStringList top;
    for (QAction* a : frame->menuBar()->actions())
        top << a->text();
    EXPECT_EQ(top, (QStringList{QStringLiteral("&Profiles"), QStringLiteral("&Sort By"),
                                QStringLiteral("&Refresh"), QStringLiteral("&Options"),
                                QStringLiteral("&Help"), QStringLiteral("E&xit")}));
    struct Cmd {
        int id;
        const char* text;
        const char* prompt;
    } cmds[] = {{ID_SORT_NAME, "&Name", "Sort By Name"},
                {ID_SORT_EXTENSION, "&Extension", "Sort By Extension"},
                {ID_SORT_SIZE, "&Size", "Sort By Size"},
                {ID_SORT_DATE, "&Date", "Sort By Date"},
                {ID_REFRESH, "&Refresh", "Re-display all panes to reflect current data"},
                {ID_OPTIONS, "&Options", "Change the program's settings"},
                {ID_HELP_INDEX, "&Contents", "List Help Topics"},
                {ID_HELP_FINDER, "&Search", "Search Help Topics"},
                {ID_APP_ABOUT, "&About Velmar98...",
                 "Display program information, version number and copyright"},
                {ID_APP_EXIT, "E&xit", "Quit the application"},
                {ID_NEXT_PANE, "Next Pane", "Switch to the next window pane"},
                {ID_PREV_PANE, "Previous Pane", "Switch back to the previous window pane"}};
    for (const Cmd& c : cmds) {
        QAction* a = frame->Action(c.id);
        ASSERT_NE(a, nullptr) << c.id;
        EXPECT_EQ(a->text(), QString::fromLatin1(c.text));
        EXPECT_EQ(a->statusTip(), QString::fromLatin1(c.prompt));
    }
    EXPECT_EQ(frame->Action(ID_REFRESH)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_R));
    EXPECT_EQ(frame->Action(ID_HELP_INDEX)->shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_EQ(frame->Action(ID_NEXT_PANE)->shortcut(), QKeySequence(Qt::Key_F6));
    // New and Open would hand the panes rows the splitter does not have.
    for (QAction* a : frame->findChildren<QAction*>()) {
        EXPECT_NE(a->shortcut(), QKeySequence(QKeySequence::New));
        EXPECT_NE(a->shortcut(), QKeySequence(QKeySequence::Open));
    }
}

TEST(MainFrame, SortByDateChecksOnlyDateAndIsWrittenAtExit) {
    {
        Started s;
        CMainFrame* frame = s.f.Frame();
        frame->Action(ID_SORT_DATE)->trigger();
        EXPECT_EQ(s.f.App().m_sortType, QStringLiteral("4"));
        EXPECT_TRUE(frame->Action(ID_SORT_DATE)->isChecked());
        for (int id : {ID_SORT_NAME, ID_SORT_EXTENSION, ID_SORT_SIZE})
            EXPECT_FALSE(frame->Action(id)->isChecked());
        EXPECT_EQ(s.f.App().m_sortByDate, 1);
        EXPECT_EQ(s.f.App().m_sortByName, 0);
    }
    EXPECT_EQ(Stored(QStringLiteral("SortType")), QStringLiteral("4"));
    Started again;
    EXPECT_EQ(again.f.App().m_sortByDate, 1);
    EXPECT_TRUE(again.f.Frame()->Action(ID_SORT_DATE)->isChecked());
}

TEST(MainFrame, RestoredDuringACommunicationTheWindowComesBackDisabled) {
    Started s;
    CMainFrame* frame = s.f.Frame();
    for (int comm : {1, 0}) {
        frame->setEnabled(true);
        std::optional<CommHold> hold;
        if (comm)
            hold.emplace(s.f.App().Comm());
        frame->setWindowState(Qt::WindowMinimized);
        QTest::qWait(20);
        frame->setWindowState(Qt::WindowMaximized);
        QTest::qWait(20);
        EXPECT_EQ(frame->isEnabled(), comm == 0);
    }
}

TEST(MainFrame, ANestedCommunicationHoldsTheWindowUntilTheOuterOneEnds) {
    Started s;
    CMainFrame* frame = s.f.Frame();
    CommActivity& comm = s.f.App().Comm();
    QSignalSpy ended(&comm, &CommActivity::ended);
    // Whether a communication is in progress, and how often the window was
    // given back, after each step in this order.
    const struct {
        const char* what;
        void (CommActivity::*step)();
        bool inProgress;
        qsizetype ended;
    } steps[] = {
        {"outer begins", &CommActivity::Begin, true, 0},
        {"inner begins", &CommActivity::Begin, true, 0},
        {"inner ends", &CommActivity::End, true, 0},
        {"outer ends", &CommActivity::End, false, 1},
        {"an end without its beginning", &CommActivity::End, false, 1},
        {"the next one begins", &CommActivity::Begin, true, 1},
        {"and ends", &CommActivity::End, false, 2},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        (comm.*step.step)();
        EXPECT_EQ(comm.InProgress(), step.inProgress);
        EXPECT_EQ(ended.count(), step.ended);
    }
    // While the outer one still runs, the window refuses to close.
    {
        CommHold outer(comm);
        { CommHold inner(comm); }
        EXPECT_FALSE(frame->close());
        EXPECT_TRUE(frame->isVisible());
    }
}

TEST(MainFrame, NextAndPreviousPaneCycleThroughTheFour) {
    Started s;
    CMainFrame* frame = s.f.Frame();
    frame->activateWindow();
    frame->SetActiveView(frame->GetPane(0, 0));
    const QWidget* expected[] = {frame->GetPane(0, 1), frame->GetPane(1, 0), frame->GetPane(1, 1),
                                 frame->GetPane(0, 0)};
    for (const QWidget* pane : expected) {
        frame->OnNextPane(1);
        EXPECT_TRUE(pane->hasFocus());
    }
    frame->OnNextPane(-1);
    EXPECT_TRUE(frame->GetPane(1, 1)->hasFocus());
}
} // namespace
