#include <QDir>
#include "Await.h"
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <tuple>

#include "FtpConnection.h"
#include "Job.h"
#include "TransferFixture.h"

namespace {

// One file copy in the direction of the test, from a source named name to a
// destination named name + ".copy", each on its own side.
class FileCopyTest : public testing::TestWithParam<Param> {
protected:
    void SetUp() override {
        env = std::make_unique<TransferEnv>(std::get<0>(GetParam()));
        ASSERT_TRUE(env->server.IsRunning()) << env->server.Error().toStdString();
        ASSERT_TRUE(env->Connect());
        dlg = env->NewStatusWindow();
        env->frame->setEnabled(false); // as the panes do during a communication
    }
    void TearDown() override {
        dlg.reset();
        env.reset();
    }
    Direction Dir() const { return std::get<1>(GetParam()); }
    bool SourceIsLocal() const { return Dir() == Direction::LocalToFtp; }
    bool DestinationIsLocal() const { return Dir() == Direction::FtpToLocal; }

    QString SourcePath(const QString& name) const {
        return SourceIsLocal() ? env->Local(name) : "/" + name;
    }
    QString DestinationPath(const QString& name) const {
        return DestinationIsLocal() ? env->Local(name + ".copy") : "/" + name + ".copy";
    }
    void PutSource(const QString& name, const QByteArray& data) {
        if (SourceIsLocal())
            ASSERT_TRUE(TransferEnv::WriteLocal(env->Local(name), data));
        else
            ASSERT_TRUE(env->server.WriteFile(name, data));
    }
    QByteArray Destination(const QString& name) const {
        return DestinationIsLocal() ? TransferEnv::ReadLocal(env->Local(name + ".copy"))
                                    : env->server.ReadFile(name + ".copy");
    }
    bool DestinationExists(const QString& name) const {
        return DestinationIsLocal() ? TransferEnv::LocalExists(env->Local(name + ".copy"))
                                    : TransferEnv::LocalExists(env->server.PathOf(name + ".copy"));
    }
    // What a copy to name could have left in the destination's folder: its part
    // under a temporary name, or under the real one.
    QStringList Leftovers(const QString& name) const {
        const QString dir = DestinationIsLocal() ? env->Local("") : env->server.PathOf("");
        return QDir(dir).entryList({name + ".copy", "." + name + ".copy.*"},
                                   QDir::Files | QDir::Hidden | QDir::System);
    }
    bool Copy(const QString& name) {
        switch (Dir()) {
        case Direction::LocalToFtp:
            return Await(dlg->CopyLocalToFtp(SourcePath(name), DestinationPath(name)));
        case Direction::FtpToLocal:
            return Await(dlg->CopyFtpToLocal(SourcePath(name), DestinationPath(name)));
        case Direction::FtpToFtp:
            return Await(dlg->CopyFtpToFtp(SourcePath(name), DestinationPath(name)));
        }
        return false;
    }
    QString Shown(const QString& path, bool local) const {
        return local ? path : "Test Site:" + path;
    }
    int Bar() const { return qobject_cast<QProgressBar*>(dlg->Control(1041))->value(); }

    std::unique_ptr<TransferEnv> env;
    std::unique_ptr<CCommStatusDlg> dlg;
};

struct SizeCase {
    int size;
    std::vector<std::pair<QString, int>> blocks; // bytes-copied text and bar, per block
};

TEST_P(FileCopyTest, TextsAndBarAfterEveryBlock) {
    // A bar and texts left by an earlier file: a file without a full block keeps them.
    dlg->ShowTransferControls();
    dlg->UpdateProgress(0, 2700);
    ASSERT_EQ(Bar(), 37);
    for (int id : {1050, 1046, 1053})
        dlg->SetDlgItemText(id, "earlier");
    const SizeCase cases[] = {
        {0, {}},
        {999, {}},
        {1000, {{"1000 of 1000", 100}}},
        {2500, {{"1000 of 2500", 40}, {"2000 of 2500", 80}}},
    };
    QString lastCopied = "earlier";
    int lastBar = 37;
    for (const SizeCase& c : cases) {
        SCOPED_TRACE(c.size);
        const QString name = QStringLiteral("f%1.bin").arg(c.size);
        const QByteArray data = RandomBytes(c.size);
        PutSource(name, data);
        std::vector<BlockReport> reports;
        dlg->m_blockObserver = [&](const BlockReport& r) { reports.push_back(r); };
        env->frame->pane0History.clear();
        ASSERT_TRUE(Copy(name));
        EXPECT_EQ(Destination(name), data);
        ASSERT_EQ(reports.size(), c.blocks.size());
        for (size_t i = 0; i < reports.size(); ++i) {
            EXPECT_EQ(reports[i].blockIndex, i);
            EXPECT_EQ(reports[i].bytesCopied, c.blocks[i].first);
            EXPECT_EQ(reports[i].position, c.blocks[i].second);
            EXPECT_TRUE(
                QRegularExpression("^\\d\\d:\\d\\d:\\d\\d$").match(reports[i].elapsed).hasMatch());
            const QStringList hms = reports[i].elapsed.split(':');
            const int seconds = hms[0].toInt() * 3600 + hms[1].toInt() * 60 + hms[2].toInt();
            const long long copied = (long long)(i + 1) * 1000;
            // The rate is taken over the exact time, so it is known from the first
            // block and lies between the whole-second bounds of that time.
            const long long rate = reports[i].bytesPerSecond.toLongLong();
            EXPECT_GT(rate, 0);
            EXPECT_GE(rate, copied / (seconds + 1));
            if (seconds) {
                EXPECT_LE(rate, copied / seconds);
            }
            EXPECT_TRUE(
                QRegularExpression("^\\d\\d+:\\d\\d:\\d\\d$").match(reports[i].timeLeft).hasMatch())
                << reports[i].timeLeft.toStdString();
        }
        if (!reports.empty()) {
            EXPECT_EQ(reports.back().timeLeft, "00:00:00");
        }
        if (!reports.empty()) {
            lastCopied = reports.back().bytesCopied;
            lastBar = reports.back().position;
        }
        // What stays on the screen is exact for the last block.
        EXPECT_EQ(dlg->GetDlgItemText(1050), lastCopied);
        EXPECT_EQ(Bar(), lastBar);
        EXPECT_EQ(dlg->GetDlgItemText(1054), "Transferring Data");
        EXPECT_EQ(dlg->GetDlgItemText(1045), Shown(SourcePath(name), SourceIsLocal()));
        EXPECT_EQ(dlg->GetDlgItemText(1049), Shown(DestinationPath(name), DestinationIsLocal()));
        EXPECT_EQ(env->frame->pane0History, QStringList({"Copying Files - Please Wait", "Ready"}));
    }
    if (Dir() == Direction::FtpToFtp)
        EXPECT_EQ(dlg->GetDlgItemText(1032),
                  "Copying files from FTP Server to FTP Server - Please Wait");
    else
        EXPECT_EQ(dlg->GetDlgItemText(1032), "");
    EXPECT_EQ(env->boxes.Count(), 0);
}

TEST_P(FileCopyTest, TwentyMegabytesArriveByteIdentical) {
    const QByteArray data = RandomBytes(20 * 1000 * 1000 + 123);
    PutSource("big.bin", data);
    std::uint64_t blocks = 0;
    dlg->m_blockObserver = [&](const BlockReport& r) { blocks = r.blockIndex + 1; };
    ASSERT_TRUE(Copy("big.bin"));
    EXPECT_TRUE(Destination("big.bin") == data);
    EXPECT_EQ(blocks, 20000u);
    EXPECT_EQ(dlg->GetDlgItemText(1050), "20000000 of 20000123");
    EXPECT_EQ(Bar(), 100);
    EXPECT_EQ(env->boxes.Count(), 0);
}

TEST_P(FileCopyTest, CancelThroughTheButtonStopsAtABlockBoundary) {
    const QByteArray data = RandomBytes(50 * 1000 * 1000);
    PutSource("huge.bin", data);
    dlg->m_blockObserver = [&](const BlockReport& r) {
        if (r.blockIndex == 4999)
            core::CallOnUi([&] { QTest::mouseClick(dlg->Control(1033), Qt::LeftButton); });
    };
    EXPECT_FALSE(Copy("huge.bin"));
    EXPECT_EQ(dlg->m_cancel, 1);
    EXPECT_EQ(env->boxes.Captions(), QStringList({"Communication Cancelled"}));
    // A cancelled copy leaves nothing: no part under the real name or beside it.
    EXPECT_EQ(Leftovers("huge.bin"), QStringList());
    EXPECT_EQ(dlg->GetDlgItemText(1050), "5000000 of 50000000");
    EXPECT_EQ(Bar(), 10);
    EXPECT_EQ(env->frame->PaneText(0), "Ready");
}

TEST_P(FileCopyTest, CancelFromATimerStopsAtTheFirstBlock) {
    // Large enough that the copy, on its worker, cannot be over before the
    // interface thread has had its first turn, however busy the machine.
    const QByteArray data = RandomBytes(40 * 1000 * 1000);
    PutSource("timer.bin", data);
    QTimer::singleShot(0, dlg.get(),
                       [this] { QTest::mouseClick(dlg->Control(1033), Qt::LeftButton); });
    EXPECT_FALSE(Copy("timer.bin"));
    EXPECT_EQ(env->boxes.Captions(), QStringList({"Communication Cancelled"}));
    EXPECT_EQ(Leftovers("timer.bin"), QStringList());
    // Every later cancel check of the same operation fails again.
    PutSource("small.bin", "tiny");
    EXPECT_FALSE(Copy("small.bin"));
    EXPECT_EQ(env->boxes.CountCaption("Communication Cancelled"), 2);
}

TEST_P(FileCopyTest, ServerKilledInTheMiddleIsAnErrorAndTheCallerGoesOn) {
    const QByteArray data = RandomBytes(40 * 1000 * 1000);
    PutSource("cut.bin", data);
    dlg->m_blockObserver = [&](const BlockReport& r) {
        if (r.blockIndex == 3000)
            env->server.Kill();
    };
    EXPECT_FALSE(Copy("cut.bin"));
    EXPECT_GE(env->boxes.CountCaption("Error Copying File"), 1);
    EXPECT_EQ(env->boxes.CountCaption("Error Copying File"), env->boxes.Count());
    EXPECT_EQ(env->frame->PaneText(0), "Ready");
    // The next operations fail cleanly instead of hanging or crashing.
    dlg->m_blockObserver = nullptr;
    env->boxes.Clear();
    EXPECT_THROW(Await(dlg->ReadFtpDirectory()), CInternetException);
    EXPECT_TRUE(env->app->Site().Listing().empty());
    PutSource("after.bin", "abc");
    EXPECT_FALSE(Copy("after.bin"));
    EXPECT_EQ(env->boxes.Captions(), QStringList({"Error Copying File"}));
}

TEST_P(FileCopyTest, MissingSourceIsAnErrorAndCreatesNothing) {
    EXPECT_FALSE(Copy("missing.bin"));
    EXPECT_EQ(env->boxes.Captions(), QStringList({"Error Copying File"}));
    EXPECT_EQ(env->boxes.Calls()[0].text, "The program was unable to copy the selected file(s).");
    EXPECT_FALSE(DestinationExists("missing.bin"));
    EXPECT_EQ(env->frame->PaneText(0), "Ready");
}

TEST_P(FileCopyTest, ExistingDestinationIsReplacedWhole) {
    const QByteArray old = RandomBytes(9000);
    if (DestinationIsLocal())
        ASSERT_TRUE(TransferEnv::WriteLocal(env->Local("over.bin.copy"), old));
    else
        ASSERT_TRUE(env->server.WriteFile("over.bin.copy", old));
    const QByteArray data = RandomBytes(2500);
    PutSource("over.bin", data);
    ASSERT_TRUE(Copy("over.bin"));
    EXPECT_EQ(Destination("over.bin"), data);
    // A source that cannot be read leaves the old destination as it was.
    if (DestinationIsLocal())
        ASSERT_TRUE(TransferEnv::WriteLocal(env->Local("keep.bin.copy"), old));
    else
        ASSERT_TRUE(env->server.WriteFile("keep.bin.copy", old));
    EXPECT_FALSE(Copy("keep.bin"));
    EXPECT_EQ(Destination("keep.bin"), old);
}

INSTANTIATE_TEST_SUITE_P(
    Servers, FileCopyTest,
    testing::Combine(testing::Values(FtpServer::Kind::Vsftpd, FtpServer::Kind::Pyftpdlib),
                     testing::Values(Direction::LocalToFtp, Direction::FtpToLocal,
                                     Direction::FtpToFtp)),
    ParamName);

class DownloadTest : public ServerTest {};

TEST_P(DownloadTest, LocalWriteFailureIsACopyError) {
    ASSERT_TRUE(env->Connect());
    ASSERT_TRUE(env->server.WriteFile("a.bin", RandomBytes(300000)));
    auto dlg = env->NewStatusWindow();
    EXPECT_FALSE(Await(dlg->CopyFtpToLocal("/a.bin", "/dev/full")));
    EXPECT_EQ(env->boxes.Captions(), QStringList({"Error Copying File"}));
    // The main connection is still usable afterwards.
    env->boxes.Clear();
    EXPECT_TRUE(Await(dlg->CopyFtpToLocal("/a.bin", env->Local("a.bin"))));
    EXPECT_EQ(TransferEnv::ReadLocal(env->Local("a.bin")).size(), 300000);
}

TEST_P(DownloadTest, UploadOfAFolderOrAMissingFileIsRefused) {
    ASSERT_TRUE(env->Connect());
    auto dlg = env->NewStatusWindow();
    EXPECT_FALSE(Await(dlg->CopyLocalToFtp(env->Local(""), "/folder.bin")));
    EXPECT_FALSE(Await(dlg->CopyLocalToFtp(env->Local("nothing"), "/nothing")));
    EXPECT_EQ(env->boxes.CountCaption("Error Copying File"), 2);
    EXPECT_FALSE(TransferEnv::LocalExists(env->server.PathOf("folder.bin")));
}

TEST_P(DownloadTest, HideProgramDuringATransferLetsItFinish) {
    ASSERT_TRUE(env->Connect());
    const QByteArray data = RandomBytes(3 * 1000 * 1000);
    ASSERT_TRUE(env->server.WriteFile("hide.bin", data));
    auto dlg = env->NewStatusWindow();
    env->frame->setEnabled(false);
    dlg->m_blockObserver = [&](const BlockReport& r) {
        if (r.blockIndex == 10)
            core::CallOnUi([&] { QTest::mouseClick(dlg->Control(1047), Qt::LeftButton); });
    };
    EXPECT_TRUE(Await(dlg->CopyFtpToLocal("/hide.bin", env->Local("hide.bin"))));
    EXPECT_TRUE(TransferEnv::ReadLocal(env->Local("hide.bin")) == data);
    EXPECT_TRUE(env->frame->isMinimized());
    EXPECT_TRUE(env->frame->isEnabled());
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(env->boxes.Count(), 0);
}

VELMAR_BOTH_SERVERS(DownloadTest);

} // namespace
