#include <QApplication>
#include "Await.h"
#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <thread>

#include "CommStatusDlg.h"
#include "HelpWindow.h"
#include "Job.h"
#include "MessageBoxRecorder.h"
#include "TestFrame.h"
#include "VelmarApp.h"

namespace {

class StatusWindowTest : public testing::Test {
protected:
    void SetUp() override {
        app = std::make_unique<CVelmarApp>();
        app->SetStartingUp(false);
        app->m_startupDir = QStringLiteral("/opt/velmar/");
        frame = new TestFrame;
        app->m_pMainWnd = frame;
        frame->resize(900, 700);
        frame->show();
        dlg = std::make_unique<CCommStatusDlg>(frame);
    }
    void TearDown() override {
        if (CurrentHelpWindow())
            delete CurrentHelpWindow();
        dlg.reset();
        app.reset();
    }
    QWidget* W(int id) const { return dlg->Control(id); }

    MessageBoxRecorder boxes;
    std::unique_ptr<CVelmarApp> app;
    TestFrame* frame = nullptr;
    std::unique_ptr<CCommStatusDlg> dlg;
};

struct ControlRow {
    int id;
    const char* text;
    int x, y, w, h;
    bool visible;
};

// The dialog template: id, initial text, position in dialog units, visibility.
const ControlRow kTemplate[] = {
    {1032, "", 21, 2, 279, 9, true},
    {1054, "", 15, 13, 291, 8, true},
    {1033, "&Cancel Communication", 113, 27, 94, 17, false},
    {1042, "From:", 2, 50, 18, 9, false},
    {1045, "", 24, 50, 297, 9, true},
    {1034, "", 30, 51, 262, 9, false},
    {1048, "To:", 2, 60, 18, 9, false},
    {1049, "", 24, 60, 297, 9, true},
    {1043, "Bytes Copied:", 2, 72, 44, 9, false},
    {1050, "", 48, 72, 82, 9, true},
    {1044, "Bytes Per Second:", 131, 72, 60, 9, false},
    {1046, "", 194, 72, 36, 9, true},
    {1051, "Time (for this file):", 232, 72, 58, 8, false},
    {1053, "", 292, 72, 28, 8, true},
    {1041, "", 2, 83, 319, 11, false},
    {1047, "&Hide Program", 40, 100, 61, 17, false},
    {1066, "H&elp", 220, 100, 61, 17, false},
};

TEST_F(StatusWindowTest, CreatedWindowMatchesTheTemplate) {
    ASSERT_TRUE(dlg->Create());
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(dlg->windowTitle(), "Velmar98 Communication Status");
    EXPECT_EQ(dlg->m_cancel, 0);
    const Qt::WindowFlags flags = dlg->windowFlags();
    EXPECT_FALSE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowSystemMenuHint);
    EXPECT_TRUE(flags & Qt::WindowTitleHint);
    EXPECT_TRUE(dlg->isWindow());

    const QFontMetrics fm(dlg->font());
    int baseX =
        (fm.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 26 + 1) / 2;
    const int baseY = fm.height();
    auto px = [&](int dlu, int base, int div) { return (dlu * base + div / 2) / div; };
    // Wider than the font alone asks, when the bytes-copied line of a terabyte
    // file would not fit otherwise.
    const QString terabyte = QStringLiteral("999999999999 of 999999999999");
    while (px(82, baseX, 4) < fm.horizontalAdvance(terabyte) + 4)
        ++baseX;
    EXPECT_GE(W(1050)->width(), fm.horizontalAdvance(terabyte));
    EXPECT_GE(W(1046)->width(), fm.horizontalAdvance(QStringLiteral("999999999")));
    EXPECT_EQ(dlg->width(), px(322, baseX, 4));
    EXPECT_EQ(dlg->height(), px(122, baseY, 8));
    for (const ControlRow& row : kTemplate) {
        QWidget* w = W(row.id);
        ASSERT_NE(w, nullptr) << row.id;
        EXPECT_EQ(w->objectName(), QString::number(row.id));
        EXPECT_FALSE(w->accessibleName().isEmpty()) << row.id;
        EXPECT_EQ(dlg->GetDlgItemText(row.id), row.text) << row.id;
        EXPECT_EQ(w->isVisible(), row.visible) << row.id;
        EXPECT_EQ(w->geometry(), QRect(px(row.x, baseX, 4), px(row.y, baseY, 8),
                                       px(row.w, baseX, 4), px(row.h, baseY, 8)))
            << row.id;
    }
    auto* bar = qobject_cast<QProgressBar*>(W(1041));
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(qobject_cast<QLabel*>(W(1032))->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
    EXPECT_EQ(qobject_cast<QLabel*>(W(1044))->alignment() & Qt::AlignRight, Qt::AlignRight);
}

TEST_F(StatusWindowTest, TransferControlsAppearAtTheFirstTransfer) {
    dlg->Create();
    dlg->ShowTransferControls();
    for (const ControlRow& row : kTemplate)
        EXPECT_EQ(W(row.id)->isVisible(), row.id != 1034) << row.id;
}

TEST_F(StatusWindowTest, WithoutWindowNothingIsShownAndNothingBreaks) {
    dlg->ShowTransferControls();
    dlg->SetDlgItemText(1050, "1000 of 2000");
    EXPECT_EQ(dlg->Control(1050), nullptr);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_TRUE(dlg->UpdateProgress(0, 2000));
}

TEST_F(StatusWindowTest, UpdateProgressSetsTheBarAndReportsCancellationEveryTime) {
    dlg->Create();
    auto* bar = qobject_cast<QProgressBar*>(W(1041));
    const struct {
        std::uint64_t block, total;
        int position;
    } steps[] = {{0, 2000, 50}, {0, 3000, 33}, {1, 3000, 67}, {2, 3000, 100}, {1, 2500, 80}};
    for (const auto& s : steps) {
        EXPECT_TRUE(dlg->UpdateProgress(s.block, s.total));
        EXPECT_EQ(bar->value(), s.position) << s.block << " of " << s.total;
    }
    EXPECT_EQ(boxes.Count(), 0);
    dlg->m_cancel = 1;
    EXPECT_FALSE(dlg->UpdateProgress(0, 2000));
    EXPECT_FALSE(dlg->CheckCancel());
    ASSERT_EQ(boxes.Count(), 2);
    for (const MessageBoxCall& call : boxes.Calls()) {
        EXPECT_EQ(call.caption, "Communication Cancelled");
        EXPECT_EQ(call.text, "The communication session has been cancelled by the user.");
        EXPECT_EQ(call.flags, unsigned(MB_OK | MB_ICONHAND));
        EXPECT_EQ(call.owner, frame);
    }
}

TEST_F(StatusWindowTest, CancelButtonWorksWhileTheMainWindowIsDisabled) {
    dlg->Create();
    dlg->ShowTransferControls();
    frame->setEnabled(false);
    EXPECT_TRUE(dlg->isEnabled());
    QWidget* cancel = W(1033);
    EXPECT_TRUE(cancel->isEnabled());
    QTest::mouseClick(cancel, Qt::LeftButton);
    EXPECT_EQ(dlg->m_cancel, 1);
    EXPECT_FALSE(dlg->CheckCancel());
    EXPECT_EQ(boxes.CountCaption("Communication Cancelled"), 1);
}

TEST_F(StatusWindowTest, HideProgramMinimisesTheMainWindowAndTheStatusWindowGoesWithIt) {
    dlg->Create();
    dlg->ShowTransferControls();
    frame->setEnabled(false);
    QTest::mouseClick(W(1047), Qt::LeftButton);
    EXPECT_TRUE(frame->isEnabled());
    EXPECT_TRUE(frame->isMinimized());
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->m_cancel, 0);
    frame->showNormal();
    EXPECT_TRUE(dlg->isVisible());
}

TEST_F(StatusWindowTest, HelpOpensTheStatusTopic) {
    dlg->Create();
    dlg->ShowTransferControls();
    QTest::mouseClick(W(1066), Qt::LeftButton);
    const HelpRequest request = LastHelpRequest();
    EXPECT_EQ(request.helpFile, "/opt/velmar/Velmar98.hlp");
    EXPECT_EQ(request.command, HELP_CONTEXT);
    EXPECT_EQ(request.context, 200);
}

TEST_F(StatusWindowTest, TheWindowNeverClosesItself) {
    dlg->Create();
    dlg->close();
    QTest::keyClick(dlg.get(), Qt::Key_Escape);
    EXPECT_TRUE(dlg->isVisible());
}

TEST_F(StatusWindowTest, MessagesOfTheSharedOperations) {
    dlg->Create();
    dlg->ReportCopyError();
    dlg->ReportCopyError(std::runtime_error("broken"));
    dlg->ReportConnectError();
    EXPECT_TRUE(dlg->CheckFolderNotInside("/pub", "/pub2"));
    EXPECT_FALSE(dlg->CheckFolderNotInside("/pub", "/pub/sub"));
    const struct {
        const char* caption;
        const char* text;
        QWidget* owner;
    } expected[] = {
        {"Error Copying File", "The program was unable to copy the selected file(s).", frame},
        {"Error Copying File", "The program was unable to copy the selected file(s).", frame},
        {"Error Opening FTP Connection",
         "The program was unable to connect to the requested FTP site.", frame},
        {"Error Copying Folder", "The destination folder is the same as the source folder.",
         dlg.get()},
    };
    ASSERT_EQ(boxes.Count(), 4);
    for (int i = 0; i < 4; ++i) {
        const MessageBoxCall& call = boxes.Calls()[i];
        EXPECT_EQ(call.caption, expected[i].caption);
        EXPECT_EQ(call.text, expected[i].text);
        EXPECT_EQ(call.owner, expected[i].owner);
        EXPECT_EQ(call.flags, unsigned(MB_OK | MB_ICONHAND));
    }
}

TEST_F(StatusWindowTest, FileNamesAreShownAsPlainText) {
    dlg->Create();
    dlg->SetDlgItemText(1045, "<b>bold</b>.txt");
    EXPECT_EQ(qobject_cast<QLabel*>(W(1045))->textFormat(), Qt::PlainText);
}

} // namespace

namespace {

// A second operation started while a job holds the connection (from a timer, as
// the main window is locked) is refused whole with a message, and the first
// one runs on undisturbed.
TEST_F(StatusWindowTest, ASecondOperationDuringAJobIsRefusedWhole) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString source = folder.filePath("source.txt");
    const QString target = folder.filePath("target.txt");
    {
        QFile file(source);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("data");
    }
    dlg->Create();
    CCommStatusDlg second(frame);
    bool secondResult = true;
    std::atomic<bool> release{false};
    QTimer::singleShot(0, [&] {
        // Refused at once: the task has ended before it is left to itself.
        auto task = second.CopyLocalToLocal(source, target);
        task.Start();
        secondResult = !task.Done() || task.Result();
        release = true;
    });
    bool firstRan = false;
    AwaitJob([&] {
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        firstRan = true;
    });
    EXPECT_TRUE(firstRan);
    EXPECT_FALSE(secondResult);
    EXPECT_FALSE(QFile::exists(target));
    ASSERT_EQ(boxes.Count(), 1);
    EXPECT_EQ(boxes.Calls()[0].caption, QStringLiteral("Communication in Progress"));
    // Once the first has ended, the same operation runs.
    EXPECT_TRUE(Await(second.CopyLocalToLocal(source, target)));
}

} // namespace
