// What the FTP list tells of a listing it could not read whole, against a server
// that sends chosen lines: how many lines were not understood, the item count as
// the list empties and fills, and the listing's own text on the clipboard.
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QProcess>
#include <QTemporaryFile>

#include "ListTestUtil.h"
#include "MessageBox.h"

namespace {

using namespace listtest;

// Four entries of four formats, a line no server writes, a name holding an LF
// (no phantom entry may come of it), and lines that carry no entry.
const char kListing[] = "total 9\r\n"
                        "drwxr-xr-x 2 ftp ftp 4096 Jan 01 2020 broken\r\n"
                        "-rw-r--r-- 1 ftp ftp 5 Jan 01 2020 top.txt\r\n"
                        "d [R----F--] supervisor 512 Jan 16 18:53 netware dir\r\n"
                        "QPGMR 5000000000 01/02/24 10:00:00 *STMF big.txt\r\n"
                        "no server writes this\r\n"
                        "-rw-r--r-- 1 ftp ftp 5 Jan 01 2020 evil\n"
                        "-rw-r--r-- 1 ftp ftp 5 Jan 01 2020 phantom\r\n"
                        "\r\n";

// The scripted server with kListing as its root's listing; its address.
QString StartServer(QProcess& script, QTemporaryFile& listing) {
    if (!listing.open() || listing.write(kListing) != qint64(sizeof kListing - 1))
        return QString();
    listing.flush();
    script.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(VELMAR_BROKEN_LISTING_SERVER),
                                                      QStringLiteral("0"), listing.fileName()});
    if (!script.waitForReadyRead(10000))
        return QString();
    const QByteArray ready = script.readLine().trimmed();
    return QStringLiteral("127.0.0.1:") + QString::fromLatin1(ready.mid(6));
}

TEST(ListingNotes, UnreadLinesReachTheStatusBarAndTheCountFollowsTheList) {
    QProcess script;
    QTemporaryFile listing;
    const QString address = StartServer(script, listing);
    ASSERT_FALSE(address.isEmpty()) << "the scripted server did not start";
    auto f = std::make_unique<AppFixture>();
    f->SetProfile(address, QStringLiteral("u"), QStringLiteral("p"));
    ASSERT_TRUE(f->Start());
    CMyListView* list = f->FtpList();
    EXPECT_EQ(Names(list), (QStringList{QStringLiteral("broken"), QStringLiteral("netware dir"),
                                        QStringLiteral("big.txt"), QStringLiteral("top.txt")}));
    EXPECT_EQ(f->Frame()->PaneText(0),
              QStringLiteral("2 lines of the listing were not understood"));
    EXPECT_EQ(f->Frame()->PaneText(2), QStringLiteral("FTP: 4 Items"));

    // The listing as the server sent it, for a bug report.
    std::unique_ptr<QMenu> menu(list->MakeContextMenu(QPoint(-1, -1)));
    ASSERT_NE(menu, nullptr);
    auto* copy = menu->findChild<QAction*>(QString::number(ID_COPY_RAW_LISTING));
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(copy->isEnabled());
    list->OnCommand(ID_COPY_RAW_LISTING);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromUtf8(kListing));

    // While the box of a failed reading is open, the list is empty and so is
    // its count; no note of the folder shown before stays.
    QString countAtBox;
    MessageBoxHandler recorder;
    recorder = SetMessageBoxHandler([&](const MessageBoxCall& call) {
        countAtBox = f->Frame()->PaneText(2);
        return recorder(call);
    });
    f->FtpTree()->SelectItem(ChildNamed(f->FtpTree()->m_rootItem, QStringLiteral("broken")));
    AwaitSpawned();
    SetMessageBoxHandler(std::move(recorder));
    EXPECT_EQ(f->Boxes().Count(), 1);
    EXPECT_EQ(countAtBox, QStringLiteral("FTP: 0 Items"));
    EXPECT_EQ(f->Frame()->PaneText(2), QStringLiteral("FTP: 0 Items"));
    EXPECT_FALSE(f->Frame()->PaneText(0).contains(QStringLiteral("not understood")));
    script.kill();
    script.waitForFinished(5000);
}

} // namespace
