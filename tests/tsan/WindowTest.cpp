// The whole program in its real window (offscreen) under the thread sanitizer:
// Refresh pressed again and again while the server's folder changes, and copies
// both ways by the keys, so that every hand-off between the interface thread and
// the connection's worker is run at least once.
#include <QElapsedTimer>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>

#include "../list/ListTestUtil.h"
#include "FtpServer.h"

namespace {
using listtest::LocalDir;
using listtest::Names;

bool WaitFor(const std::function<bool()>& done, int timeoutMs = 60000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs)
        QTest::qWait(10);
    return done();
}

void Key(QWidget* pane, QKeySequence::StandardKey key) {
    const QKeySequence sequence(key);
    QTest::keyClick(pane, static_cast<Qt::Key>(sequence[0].key()), sequence[0].keyboardModifiers());
}

void CopyAndPaste(CMyListView* from, const QString& name, CMyListView* to) {
    from->SelectRows({listtest::RowOf(from, name)});
    Key(from, QKeySequence::Copy);
    Key(to, QKeySequence::Paste);
}

TEST(TsanWindow, RefreshFiveTimesThenCopyBothWays) {
    FtpServer server(FtpServer::Kind::Pyftpdlib);
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    const QByteArray remote(300000, 'r');
    ASSERT_TRUE(server.MakeDir("pub") && server.WriteFile("remote.bin", remote));
    auto f = listtest::StartWith(server);
    CMainFrame* frame = f->Frame();
    CMyListView* ftpList = f->FtpList();
    ASSERT_TRUE(WaitFor([&] { return Names(ftpList).contains("remote.bin"); }));

    for (int i = 0; i < 5; ++i) {
        const QString added = QStringLiteral("added-%1.txt").arg(i);
        ASSERT_TRUE(server.WriteFile(added, "x"));
        frame->Action(ID_REFRESH)->trigger();
        EXPECT_TRUE(WaitFor([&] { return Names(ftpList).contains(added) && frame->isEnabled(); }))
            << i << ": " << Names(ftpList).join(',').toStdString();
    }
    EXPECT_EQ(f->Boxes().Count(), 0) << f->Boxes().Captions().join(',').toStdString();

    LocalDir up, down;
    const QByteArray local(400000, 'l');
    ASSERT_TRUE(up.File("local.bin", local));
    listtest::Show(f->LocalList(), up.Path());
    CopyAndPaste(f->LocalList(), "local.bin", ftpList);
    EXPECT_TRUE(
        WaitFor([&] { return server.ReadFile("local.bin") == local && frame->isEnabled(); }));

    listtest::Show(f->LocalList(), down.Path());
    CopyAndPaste(ftpList, "remote.bin", f->LocalList());
    EXPECT_TRUE(WaitFor([&] { return down.Read("remote.bin") == remote && frame->isEnabled(); }));
    EXPECT_EQ(f->Boxes().Captions(), (QStringList{"Confirm File Copy", "Confirm File Copy"}));
    EXPECT_TRUE(WaitFor([&] { return Names(ftpList).contains("local.bin"); }));
}

} // namespace
