// Copying by drag and drop onto folder items of the list panes, in the four
// directions, through the panes' own drag events, with real folders and servers.
#include <QApplication>
#include "Await.h"
#include <QDrag>
#include <QDragEnterEvent>
#include <QLabel>
#include <QMimeData>
#include <QUrl>
#include <sys/mount.h>
#include <unistd.h>

#include "../transfer/TreeHashes.h"
#include "ListTestUtil.h"

using namespace listtest;

namespace {
const QString kConfirmCopy = QStringLiteral("Confirm File Copy");
const QString kSameFolder =
    QStringLiteral("The destination folder is the same as the source folder.");
const QString kErrorCopyFolder = QStringLiteral("Error Copying Folder");

// Keeps the operation line of every status window as it closes.
class StatusWindowSpy : public QObject {
public:
    StatusWindowSpy() { qApp->installEventFilter(this); }
    ~StatusWindowSpy() override { qApp->removeEventFilter(this); }
    QStringList operations;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Hide && watched->objectName() == QStringLiteral("184"))
            if (auto* line = watched->findChild<QLabel*>(QStringLiteral("1032")))
                operations << line->text();
        return false;
    }
};

// What a drag started in a list pane carries; the pane records the rest.
std::unique_ptr<QMimeData> ListDragData(CMyListView* source, AppFixture& f) {
    const int kind = source->m_side == 0 ? DRAG_LOCAL_LIST : DRAG_FTP_LIST;
    f.App().m_doc->m_dragSourceKind = kind;
    f.App().m_doc->m_dragImageIndex = source->m_side;
    source->BeginDragHere();
    auto mime = std::make_unique<QMimeData>();
    mime->setData(QString::fromLatin1(kVelmarDragMime), QByteArray::number(kind));
    mime->setData(QString::fromLatin1(kVelmarProcessMime),
                  QByteArray::number(QCoreApplication::applicationPid()));
    return mime;
}

// A tree pane's drag of one folder, as the document records it.
std::unique_ptr<QMimeData> TreeDragData(AppFixture& f, bool ftp, const QString& path,
                                        const QString& name) {
    CVelmarDoc* doc = f.App().m_doc;
    doc->m_dragSourceKind = ftp ? DRAG_FTP_TREE : DRAG_LOCAL_TREE;
    doc->m_dragImageIndex = ftp ? 1 : 0;
    doc->m_dragFolderPath = path;
    doc->m_dragFolderName = name;
    doc->ClearDragHolders();
    (ftp ? doc->m_dragFtpTree : doc->m_dragLocalTree) = 1;
    auto mime = std::make_unique<QMimeData>();
    mime->setData(QString::fromLatin1(kVelmarDragMime), QByteArray::number(doc->m_dragSourceKind));
    return mime;
}

std::unique_ptr<QMimeData> UriDragData(const QStringList& paths) {
    auto mime = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const QString& p : paths)
        urls << QUrl::fromLocalFile(p);
    mime->setUrls(urls);
    return mime;
}

QPoint At(CMyListView* list, const QString& name) {
    const int row = RowOf(list, name);
    EXPECT_GE(row, 0) << name.toStdString();
    return list->visualRect(list->Model()->index(row, 0)).center();
}

QPoint EmptySpace(CMyListView* list) {
    return QPoint(10, list->viewport()->height() - 4);
}

// The pointer enters the pane at pos; true when a drop there would be taken.
bool Enter(CMyListView* target, const QPoint& pos, const QMimeData* mime) {
    QDragEnterEvent enter(pos, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target->viewport(), &enter);
    if (!enter.isAccepted())
        return false;
    QDragMoveEvent move(pos, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target->viewport(), &move);
    return move.isAccepted();
}

bool Move(CMyListView* target, const QPoint& pos, const QMimeData* mime) {
    QDragMoveEvent move(pos, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target->viewport(), &move);
    return move.isAccepted();
}

void Leave(CMyListView* target) {
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(target->viewport(), &leave);
}

// The button goes up at pos; the copy runs from the event loop right after.
bool Drop(CMyListView* target, const QPoint& pos, const QMimeData* mime) {
    QDropEvent drop(pos, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target->viewport(), &drop);
    AwaitSpawned();
    return drop.isAccepted();
}

struct Direction {
    bool sourceFtp;
    bool destFtp;
    FtpServer::Kind server;
};

std::string DirectionName(const testing::TestParamInfo<Direction>& info) {
    const Direction& d = info.param;
    return std::string(d.sourceFtp ? "Ftp" : "Local") + "To" + (d.destFtp ? "Ftp" : "Local") + "_" +
           FtpServer::KindName(d.server);
}

// A source folder with two files and a folder of folders on the source side, and
// a folder "dest" shown in the target pane.
class DropCopy : public testing::TestWithParam<Direction> {
protected:
    void SetUp() override {
        const Direction& dir = GetParam();
        server = std::make_unique<FtpServer>(dir.server);
        ASSERT_TRUE(server->IsRunning()) << server->Error().toStdString();
        for (bool ftp : {false, true}) {
            if (ftp != dir.sourceFtp && ftp != dir.destFtp)
                continue;
            if (ftp == dir.sourceFtp) {
                ASSERT_TRUE(Put(ftp, QStringLiteral("one.txt"), "first file"));
                ASSERT_TRUE(Put(ftp, QStringLiteral("two.bin"), Bytes(70000)));
                ASSERT_TRUE(Put(ftp, QStringLiteral("tree/a.txt"), "A"));
                ASSERT_TRUE(Put(ftp, QStringLiteral("tree/sub/b.txt"), "B"));
                ASSERT_TRUE(Put(ftp, QStringLiteral("tree/sub/deeper/c.txt"), "C"));
            }
            if (ftp == dir.destFtp) {
                ASSERT_TRUE(MkDir(ftp, QStringLiteral("dest")));
            }
        }
        f = StartWith(*server);
        source = dir.sourceFtp ? f->FtpList() : f->LocalList();
        target = dir.destFtp ? f->FtpList() : f->LocalList();
        Show(f->LocalList(), local.Path());
        if (dir.sourceFtp || dir.destFtp)
            Await(f->FtpList()->Populate(f->FtpList()->m_path));
        f->Boxes().Clear();
    }

    static QByteArray Bytes(int n) {
        QByteArray b(n, '\0');
        for (int i = 0; i < n; ++i)
            b[i] = char((i * 131 + 7) & 0xff);
        return b;
    }
    bool MkDir(bool ftp, const QString& rel) {
        if (!ftp)
            return local.Dir(rel);
        QString path;
        for (const QString& part : rel.split(QLatin1Char('/'))) {
            path += (path.isEmpty() ? QString() : QStringLiteral("/")) + part;
            if (!server->MakeDir(path))
                return false;
        }
        return true;
    }
    bool Put(bool ftp, const QString& rel, const QByteArray& data) {
        const qsizetype slash = rel.lastIndexOf(QLatin1Char('/'));
        if (slash > 0 && !MkDir(ftp, rel.left(slash)))
            return false;
        return ftp ? server->WriteFile(rel, data) : local.File(rel, data);
    }
    QByteArray Get(bool ftp, const QString& rel) const {
        return ftp ? server->ReadFile(rel) : local.Read(rel);
    }
    bool Has(bool ftp, const QString& rel) const {
        return QFileInfo::exists(ftp ? server->PathOf(rel) : local.PathOf(rel));
    }
    QByteArray AtDest(const QString& rel) const { return Get(GetParam().destFtp, rel); }
    bool HasAtDest(const QString& rel) const { return Has(GetParam().destFtp, rel); }

    // Selects the named items in the source pane and drops them on "dest".
    void DragAndDrop(const QStringList& names) {
        QList<int> rows;
        for (const QString& n : names)
            rows << RowOf(source, n);
        source->SelectRows(rows);
        auto mime = ListDragData(source, *f);
        ASSERT_TRUE(Enter(target, At(target, QStringLiteral("dest")), mime.get()));
        EXPECT_EQ(target->m_dropTarget, RowOf(target, QStringLiteral("dest")));
        EXPECT_TRUE(Drop(target, At(target, QStringLiteral("dest")), mime.get()));
    }
    QString ExpectedOperation() const {
        const Direction& d = GetParam();
        if (!d.sourceFtp && !d.destFtp)
            return QStringLiteral(
                "Copying files from Local Computer to Local Computer - Please Wait");
        if (!d.sourceFtp)
            return QStringLiteral("Copying files from Local Computer to FTP Server - Please Wait");
        return d.destFtp
                   ? QStringLiteral("Copying files from FTP Server to FTP Server - Please Wait")
                   : QStringLiteral(
                         "Copying files from FTP Server to Local Computer - Please Wait");
    }
    void ExpectCleanEnd() {
        EXPECT_EQ(target->m_dropTarget, -1);
        EXPECT_EQ(target->Model()->DropTarget(), -1);
        EXPECT_FALSE(f->App().Comm().InProgress());
        EXPECT_TRUE(f->Frame()->isEnabled());
        EXPECT_EQ(f->App().m_doc->m_dragLocalList + f->App().m_doc->m_dragFtpList, 0);
    }

    LocalDir local;
    std::unique_ptr<FtpServer> server;
    std::unique_ptr<AppFixture> f;
    CMyListView* source = nullptr;
    CMyListView* target = nullptr;
};

TEST_P(DropCopy, OneFileAfterTheConfirmationWithTheStatusWindowOfItsDirection) {
    StatusWindowSpy spy;
    DragAndDrop({QStringLiteral("one.txt")});
    EXPECT_EQ(f->Boxes().Captions(), QStringList{kConfirmCopy});
    const MessageBoxCall ask = f->Boxes().Calls().value(0);
    EXPECT_EQ(ask.text, QStringLiteral("Are you sure you want to copy the selected item(s)?"));
    EXPECT_EQ(ask.flags, unsigned(MB_OKCANCEL | MB_ICONQUESTION));
    EXPECT_EQ(AtDest(QStringLiteral("dest/one.txt")), QByteArray("first file"));
    EXPECT_FALSE(HasAtDest(QStringLiteral("dest/two.bin")));
    const QString operation = ExpectedOperation();
    EXPECT_EQ(spy.operations, operation.isEmpty() ? QStringList() : QStringList{operation});
    ExpectCleanEnd();
}

TEST_P(DropCopy, SeveralFilesAndAFolderOfFolders) {
    DragAndDrop({QStringLiteral("two.bin"), QStringLiteral("tree"), QStringLiteral("one.txt")});
    EXPECT_EQ(f->Boxes().Captions(), QStringList{kConfirmCopy});
    EXPECT_EQ(AtDest(QStringLiteral("dest/one.txt")), QByteArray("first file"));
    EXPECT_EQ(AtDest(QStringLiteral("dest/two.bin")), Bytes(70000));
    EXPECT_EQ(AtDest(QStringLiteral("dest/tree/a.txt")), QByteArray("A"));
    EXPECT_EQ(AtDest(QStringLiteral("dest/tree/sub/b.txt")), QByteArray("B"));
    EXPECT_EQ(AtDest(QStringLiteral("dest/tree/sub/deeper/c.txt")), QByteArray("C"));
    ExpectCleanEnd();
}

TEST_P(DropCopy, AFolderOfTheSameNameIsReplacedWithAllItsContents) {
    ASSERT_TRUE(Put(GetParam().destFtp, QStringLiteral("dest/tree/old.txt"), "old"));
    ASSERT_TRUE(Put(GetParam().destFtp, QStringLiteral("dest/tree/sub/stale.txt"), "stale"));
    DragAndDrop({QStringLiteral("tree")});
    EXPECT_EQ(f->Boxes().Captions(), QStringList{kConfirmCopy});
    EXPECT_FALSE(HasAtDest(QStringLiteral("dest/tree/old.txt")));
    EXPECT_FALSE(HasAtDest(QStringLiteral("dest/tree/sub/stale.txt")));
    EXPECT_EQ(AtDest(QStringLiteral("dest/tree/sub/deeper/c.txt")), QByteArray("C"));
    ExpectCleanEnd();
}

TEST_P(DropCopy, CancelCopiesNothingAndRemovesTheHighlight) {
    f->Boxes().Answer(IDCANCEL);
    DragAndDrop({QStringLiteral("one.txt"), QStringLiteral("tree")});
    EXPECT_EQ(f->Boxes().Captions(), QStringList{kConfirmCopy});
    EXPECT_FALSE(HasAtDest(QStringLiteral("dest/one.txt")));
    EXPECT_FALSE(HasAtDest(QStringLiteral("dest/tree")));
    ExpectCleanEnd();
}

TEST_P(DropCopy, DropOnEmptySpaceOrOnAFileAsksNothing) {
    source->SelectRows({RowOf(source, QStringLiteral("one.txt"))});
    auto mime = ListDragData(source, *f);
    ASSERT_TRUE(Enter(target, At(target, QStringLiteral("dest")), mime.get()));
    EXPECT_EQ(target->Model()->DropTarget(), RowOf(target, QStringLiteral("dest")));
    // Off every folder item the highlight goes and the no-entry cursor shows.
    EXPECT_FALSE(Move(target, EmptySpace(target), mime.get()));
    EXPECT_EQ(target->m_dropTarget, -1);
    EXPECT_EQ(target->Model()->DropTarget(), -1);
    EXPECT_FALSE(Drop(target, EmptySpace(target), mime.get()));
    if (GetParam().sourceFtp == GetParam().destFtp) {
        // The same pane: a file item is no target either.
        EXPECT_FALSE(Move(target, At(target, QStringLiteral("one.txt")), mime.get()));
        EXPECT_FALSE(Drop(target, At(target, QStringLiteral("one.txt")), mime.get()));
    }
    EXPECT_TRUE(f->Boxes().Calls().isEmpty());
    EXPECT_FALSE(HasAtDest(QStringLiteral("dest/one.txt")));
    ExpectCleanEnd();
}

TEST_P(DropCopy, CopySelectedToReplacesOnTheDestinationSide) {
    // The tree pane's drop of list items: this pane copies into a folder path.
    ASSERT_TRUE(Put(GetParam().destFtp, QStringLiteral("dest/tree/old.txt"), "old"));
    source->SelectRows(
        {RowOf(source, QStringLiteral("tree")), RowOf(source, QStringLiteral("one.txt"))});
    const QString destPath = target->m_path + QStringLiteral("dest/");
    EXPECT_TRUE(Await(source->CopySelectedTo(destPath, GetParam().destFtp ? 1 : 0)));
    EXPECT_TRUE(f->Boxes().Calls().isEmpty());
    EXPECT_FALSE(HasAtDest(QStringLiteral("dest/tree/old.txt")));
    EXPECT_EQ(AtDest(QStringLiteral("dest/tree/sub/b.txt")), QByteArray("B"));
    EXPECT_EQ(AtDest(QStringLiteral("dest/one.txt")), QByteArray("first file"));
    EXPECT_EQ(source->m_forceFtp + source->m_forceLocal, 0);
    EXPECT_TRUE(Has(GetParam().sourceFtp, QStringLiteral("tree/sub/deeper/c.txt")));
}

// Both whole trees, the local folder and the served one.
TreeHashes BothTrees(const LocalDir& local, const FtpServer& server) {
    TreeHashes both;
    for (const auto& [path, hash] : HashTree(local.Path()))
        both["local/" + path] = hash;
    for (const auto& [path, hash] : HashTree(server.Root()))
        both["server/" + path] = hash;
    return both;
}

TEST_P(DropCopy, AReplaceWhoseCopyFailsKeepsTheOldFolderAndLeavesNoPartialCopy) {
    const Direction& dir = GetParam();
    ASSERT_TRUE(Put(dir.destFtp, QStringLiteral("dest/tree/old.txt"), "old"));
    ASSERT_TRUE(Put(dir.destFtp, QStringLiteral("dest/tree/sub/stale.txt"), "stale"));
    // A file in the middle of the source that cannot be read: locally a link to
    // nothing; on a server a link out of what it serves.
    const QString broken = QStringLiteral("tree/sub/zz-broken");
    const QString onDisk = dir.sourceFtp ? server->PathOf(broken) : local.PathOf(broken);
    const char* pointsTo = dir.sourceFtp ? "/etc/hostname" : "/nonexistent/target";
    ASSERT_EQ(::symlink(pointsTo, QFile::encodeName(onDisk).constData()), 0);
    Await(source->Populate(source->m_path));
    const TreeHashes before = BothTrees(local, *server);
    DragAndDrop({QStringLiteral("tree")});
    EXPECT_EQ(f->Boxes().Captions(),
              (QStringList{kConfirmCopy, QStringLiteral("Error Copying File")}));
    EXPECT_EQ(BothTrees(local, *server), before);
    ExpectCleanEnd();

    // Without the broken file the same drop replaces the folder, and nothing but
    // the folder changes.
    ASSERT_TRUE(QFile::remove(onDisk));
    f->Boxes().Clear();
    DragAndDrop({QStringLiteral("tree")});
    EXPECT_EQ(f->Boxes().Captions(), QStringList{kConfirmCopy});
    const QString side = dir.destFtp ? "server/" : "local/";
    TreeHashes expected = before;
    expected.erase((dir.sourceFtp ? "server/" : "local/") + broken);
    for (auto it = expected.begin(); it != expected.end();)
        it = it->first.startsWith(side + "dest/") ? expected.erase(it) : std::next(it);
    expected[side + "dest/tree"] = "<folder>";
    for (const auto& [path, hash] :
         HashTree(dir.sourceFtp ? server->PathOf("tree") : local.PathOf("tree")))
        expected[side + "dest/tree/" + path] = hash;
    EXPECT_EQ(BothTrees(local, *server), expected);
    EXPECT_EQ(AtDest(QStringLiteral("dest/tree/sub/deeper/c.txt")), QByteArray("C"));
    EXPECT_FALSE(HasAtDest(QStringLiteral("dest/tree/old.txt")));
}

INSTANTIATE_TEST_SUITE_P(Directions, DropCopy,
                         testing::Values(Direction{false, false, FtpServer::Kind::Pyftpdlib},
                                         Direction{false, true, FtpServer::Kind::Pyftpdlib},
                                         Direction{true, false, FtpServer::Kind::Pyftpdlib},
                                         Direction{true, true, FtpServer::Kind::Pyftpdlib},
                                         Direction{false, true, FtpServer::Kind::Vsftpd},
                                         Direction{true, false, FtpServer::Kind::Vsftpd},
                                         Direction{true, true, FtpServer::Kind::Vsftpd}),
                         DirectionName);

TEST(LocalFolderCopy, LinksInsideAreNotFollowedAndLinksToFilesArriveAsFiles) {
    LocalDir local;
    ASSERT_TRUE(local.Dir(QStringLiteral("src")) && local.Dir(QStringLiteral("outside")));
    ASSERT_TRUE(local.File(QStringLiteral("src/data.txt"), "data"));
    ASSERT_TRUE(local.File(QStringLiteral("outside/keep.txt"), "keep"));
    ASSERT_TRUE(local.Dir(QStringLiteral("dest")));
    for (const auto& [name, target] :
         {std::pair{"src/out", local.PathOf("outside")}, std::pair{"src/up", QString("..")},
          std::pair{"src/data-link", QString("data.txt")}})
        ASSERT_TRUE(QFile::link(target, local.PathOf(QString::fromLatin1(name))));
    auto f = StartOffline();
    CMyListView* list = f->LocalList();
    Show(list, local.Path());
    const TreeHashes before = HashTree(local.Path());
    list->SelectRows({RowOf(list, QStringLiteral("src"))});
    EXPECT_TRUE(Await(list->CopySelectedTo(local.PathOf(QStringLiteral("dest/")), 0)));
    EXPECT_EQ(f->Boxes().Count(), 0);
    TreeHashes expected = before;
    expected["dest/src"] = "<folder>";
    expected["dest/src/data.txt"] = HashOf("data");
    expected["dest/src/data-link"] = HashOf("data");
    EXPECT_EQ(HashTree(local.Path()), expected);
}

TEST(LocalFileCopy, AFileReplacedOnAFullDiskStaysAsItWas) {
    LocalDir local;
    ASSERT_TRUE(local.Dir(QStringLiteral("disk")));
    const QByteArray disk = QFile::encodeName(local.PathOf(QStringLiteral("disk")));
    if (::geteuid() != 0 || ::mount("tmpfs", disk.constData(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "no small disk to fill: mounting a tmpfs needs root";
    const std::unique_ptr<const char, void (*)(const char*)> unmount(
        disk.constData(), [](const char* path) { ::umount2(path, MNT_DETACH); });
    const QByteArray old(400 * 1000, 'o');
    ASSERT_TRUE(local.File(QStringLiteral("disk/keep.bin"), old));
    ASSERT_TRUE(local.File(QStringLiteral("big.bin"), QByteArray(2 * 1000 * 1000, 'b')));
    ASSERT_TRUE(local.File(QStringLiteral("small.bin"), "small"));
    auto f = StartOffline();
    const TreeHashes before = HashTree(local.Path());
    EXPECT_FALSE(Await(f->LocalList()->CopyLocalFile(local.PathOf(QStringLiteral("big.bin")),
                                               local.PathOf(QStringLiteral("disk/keep.bin")))));
    EXPECT_EQ(f->Boxes().Captions(), QStringList{QStringLiteral("Error Copying File")});
    EXPECT_EQ(HashTree(local.Path()), before);
    // A copy that fits replaces it.
    EXPECT_TRUE(Await(f->LocalList()->CopyLocalFile(local.PathOf(QStringLiteral("small.bin")),
                                              local.PathOf(QStringLiteral("disk/keep.bin")))));
    EXPECT_EQ(local.Read(QStringLiteral("disk/keep.bin")), QByteArray("small"));
    EXPECT_EQ(HashTree(local.PathOf(QStringLiteral("disk"))).size(), 1u);
}

// The same-side cases that would have the replace-check delete the source: a
// folder on its own item, a tree folder on the item of its own parent, or on
// the item of a folder that holds it.
class SameSideRefusal : public DropCopy {};

TEST_P(SameSideRefusal, FolderDroppedOnItsOwnItemDeletesNothing) {
    const bool ftp = GetParam().sourceFtp;
    ASSERT_TRUE(Put(ftp, QStringLiteral("tree/tree/inner.txt"), "inner"));
    Await(target->Populate(target->m_path));
    source->SelectRows({RowOf(source, QStringLiteral("tree"))});
    auto mime = ListDragData(source, *f);
    ASSERT_TRUE(Enter(target, At(target, QStringLiteral("tree")), mime.get()));
    EXPECT_TRUE(Drop(target, At(target, QStringLiteral("tree")), mime.get()));
    EXPECT_EQ(f->Boxes().Captions(), (QStringList{kConfirmCopy, kErrorCopyFolder}));
    EXPECT_EQ(f->Boxes().Calls().value(1).text, kSameFolder);
    EXPECT_EQ(Get(ftp, QStringLiteral("tree/tree/inner.txt")), QByteArray("inner"));
    EXPECT_EQ(Get(ftp, QStringLiteral("tree/sub/deeper/c.txt")), QByteArray("C"));
    ExpectCleanEnd();
}

TEST_P(SameSideRefusal, TreeFolderDroppedOnItsParentsItemOrAnAncestorsDeletesNothing) {
    const bool ftp = GetParam().sourceFtp;
    const QString root = target->m_path;
    // tree/sub is the tree folder dragged; "tree" holds it.
    const QString path =
        ftp ? root + QStringLiteral("tree/sub") : root + QStringLiteral("tree/sub/");
    auto mime = TreeDragData(*f, ftp, path, QStringLiteral("sub"));
    EXPECT_TRUE(Enter(target, At(target, QStringLiteral("tree")), mime.get()));
    EXPECT_TRUE(Drop(target, At(target, QStringLiteral("tree")), mime.get()));
    EXPECT_EQ(f->Boxes().Captions(), (QStringList{kConfirmCopy, kErrorCopyFolder}));
    EXPECT_EQ(Get(ftp, QStringLiteral("tree/sub/b.txt")), QByteArray("B"));
    // tree/sub/deeper/sub dragged onto "tree": the copy would go to tree/sub,
    // which holds the source.
    ASSERT_TRUE(Put(ftp, QStringLiteral("tree/sub/deeper/sub/x.txt"), "x"));
    f->Boxes().Clear();
    const QString deep = root + QStringLiteral("tree/sub/deeper/sub") + (ftp ? "" : "/");
    mime = TreeDragData(*f, ftp, deep, QStringLiteral("sub"));
    EXPECT_TRUE(Await(target->DropOn(RowOf(target, QStringLiteral("tree")), std::move(mime))) == false);
    EXPECT_EQ(f->Boxes().Captions(), (QStringList{kConfirmCopy, kErrorCopyFolder}));
    EXPECT_EQ(Get(ftp, QStringLiteral("tree/sub/deeper/sub/x.txt")), QByteArray("x"));
    EXPECT_EQ(Get(ftp, QStringLiteral("tree/sub/deeper/c.txt")), QByteArray("C"));
    ExpectCleanEnd();
}

TEST_P(SameSideRefusal, CopySelectedToTheFolderShownOrIntoTheSourceDeletesNothing) {
    const bool ftp = GetParam().sourceFtp;
    source->SelectRows({RowOf(source, QStringLiteral("tree"))});
    EXPECT_FALSE(Await(source->CopySelectedTo(source->m_path, ftp ? 1 : 0)));
    EXPECT_FALSE(Await(source->CopySelectedTo(source->m_path + QStringLiteral("tree/sub/"), ftp ? 1 : 0)));
    EXPECT_EQ(f->Boxes().Captions(), (QStringList{kErrorCopyFolder, kErrorCopyFolder}));
    source->SelectRows({RowOf(source, QStringLiteral("one.txt"))});
    EXPECT_FALSE(Await(source->CopySelectedTo(source->m_path, ftp ? 1 : 0)));
    EXPECT_EQ(f->Boxes().Captions().value(2), QStringLiteral("Error Copying File"));
    EXPECT_EQ(Get(ftp, QStringLiteral("one.txt")), QByteArray("first file"));
    EXPECT_EQ(Get(ftp, QStringLiteral("tree/sub/deeper/c.txt")), QByteArray("C"));
}

INSTANTIATE_TEST_SUITE_P(Sides, SameSideRefusal,
                         testing::Values(Direction{false, false, FtpServer::Kind::Pyftpdlib},
                                         Direction{true, true, FtpServer::Kind::Pyftpdlib},
                                         Direction{true, true, FtpServer::Kind::Vsftpd}),
                         DirectionName);

// A tree folder dropped on a list folder item of the other side.
class TreeFolderAcross : public DropCopy {};

TEST_P(TreeFolderAcross, CopiesTheFolderIntoTheItem) {
    const bool ftp = GetParam().sourceFtp;
    const QString root = source->m_path;
    const QString path = ftp ? root + QStringLiteral("tree") : root + QStringLiteral("tree/");
    ASSERT_TRUE(Put(GetParam().destFtp, QStringLiteral("dest/tree/old.txt"), "old"));
    StatusWindowSpy spy;
    auto mime = TreeDragData(*f, ftp, path, QStringLiteral("tree"));
    ASSERT_TRUE(Enter(target, At(target, QStringLiteral("dest")), mime.get()));
    EXPECT_TRUE(Drop(target, At(target, QStringLiteral("dest")), mime.get()));
    EXPECT_EQ(f->Boxes().Captions(), QStringList{kConfirmCopy});
    EXPECT_EQ(AtDest(QStringLiteral("dest/tree/sub/deeper/c.txt")), QByteArray("C"));
    EXPECT_FALSE(HasAtDest(QStringLiteral("dest/tree/old.txt")));
    EXPECT_EQ(spy.operations, QStringList{ExpectedOperation()});
    ExpectCleanEnd();
}

INSTANTIATE_TEST_SUITE_P(Sides, TreeFolderAcross,
                         testing::Values(Direction{false, true, FtpServer::Kind::Pyftpdlib},
                                         Direction{true, false, FtpServer::Kind::Pyftpdlib}),
                         DirectionName);

// Files from the desktop's file manager dropped on a folder of the FTP list.
class UriUpload : public DropCopy {};

TEST_P(UriUpload, FilesAndFoldersGoUpAfterTheConfirmation) {
    LocalDir desk;
    ASSERT_TRUE(desk.File(QStringLiteral("photo.jpg"), Bytes(5000)));
    ASSERT_TRUE(desk.Dir(QStringLiteral("album/2024")));
    ASSERT_TRUE(desk.File(QStringLiteral("album/2024/a.jpg"), "a"));
    ASSERT_TRUE(Put(true, QStringLiteral("dest/album/old.jpg"), "old"));
    StatusWindowSpy spy;
    auto mime = UriDragData(
        {desk.PathOf(QStringLiteral("photo.jpg")), desk.PathOf(QStringLiteral("album/"))});
    // Not onto the local side: the desktop has its own file manager for that.
    EXPECT_FALSE(f->LocalList()->AcceptsDrag(mime.get()));
    ASSERT_TRUE(Enter(target, At(target, QStringLiteral("dest")), mime.get()));
    EXPECT_EQ(f->App().m_doc->m_dragFtpList, 1);
    EXPECT_TRUE(Drop(target, At(target, QStringLiteral("dest")), mime.get()));
    EXPECT_EQ(f->Boxes().Captions(), QStringList{kConfirmCopy});
    EXPECT_EQ(server->ReadFile(QStringLiteral("dest/photo.jpg")), Bytes(5000));
    EXPECT_EQ(server->ReadFile(QStringLiteral("dest/album/2024/a.jpg")), QByteArray("a"));
    EXPECT_FALSE(Has(true, QStringLiteral("dest/album/old.jpg")));
    EXPECT_EQ(spy.operations,
              QStringList{
                  QStringLiteral("Copying files from Local Computer to FTP Server - Please Wait")});
    ExpectCleanEnd();
    // Cancelled, nothing goes.
    f->Boxes().Clear();
    f->Boxes().Answer(IDCANCEL);
    ASSERT_TRUE(desk.File(QStringLiteral("late.txt"), "late"));
    auto late = UriDragData({desk.PathOf(QStringLiteral("late.txt"))});
    ASSERT_TRUE(Enter(target, At(target, QStringLiteral("dest")), late.get()));
    EXPECT_TRUE(Drop(target, At(target, QStringLiteral("dest")), late.get()));
    EXPECT_FALSE(Has(true, QStringLiteral("dest/late.txt")));
}

TEST_P(UriUpload, TheSharedRoutineUploadsForTheTree) {
    LocalDir desk;
    ASSERT_TRUE(desk.File(QStringLiteral("one"), "1"));
    ASSERT_TRUE(desk.Dir(QStringLiteral("two/three")));
    EXPECT_TRUE(
        Await(f->FtpList()->UploadLocalPaths({desk.PathOf(QStringLiteral("one")),
                                        desk.PathOf(QStringLiteral("two")), QStringLiteral("/")},
                                       f->FtpList()->m_path + QStringLiteral("dest/"))));
    EXPECT_EQ(server->ReadFile(QStringLiteral("dest/one")), QByteArray("1"));
    EXPECT_TRUE(QFileInfo(server->PathOf(QStringLiteral("dest/two/three"))).isDir());
    EXPECT_TRUE(f->Boxes().Calls().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Servers, UriUpload,
                         testing::Values(Direction{false, true, FtpServer::Kind::Pyftpdlib},
                                         Direction{false, true, FtpServer::Kind::Vsftpd}),
                         DirectionName);

// The drag goes from pane to pane with the pointer.
class HandOver : public DropCopy {};

TEST_P(HandOver, ThePaneUnderThePointerTakesTheDrag) {
    CVelmarDoc* doc = f->App().m_doc;
    CMyListView* localList = f->LocalList();
    CMyListView* ftpList = f->FtpList();
    ASSERT_TRUE(local.Dir(QStringLiteral("here")));
    Await(localList->Populate(localList->m_path));
    localList->SelectRows({RowOf(localList, QStringLiteral("one.txt"))});
    auto mime = ListDragData(localList, *f);
    EXPECT_EQ(doc->m_dragLocalList, 1);
    ASSERT_TRUE(Enter(localList, At(localList, QStringLiteral("here")), mime.get()));
    EXPECT_EQ(localList->Model()->DropTarget(), RowOf(localList, QStringLiteral("here")));
    // Down into the FTP list: the local list lets go, the FTP list holds it.
    Leave(localList);
    EXPECT_EQ(localList->Model()->DropTarget(), -1);
    ASSERT_TRUE(Enter(ftpList, At(ftpList, QStringLiteral("dest")), mime.get()));
    EXPECT_EQ(doc->m_dragFtpList, 1);
    EXPECT_EQ(doc->m_dragLocalList + doc->m_dragLocalTree + doc->m_dragFtpTree, 0);
    EXPECT_EQ(ftpList->Model()->DropTarget(), RowOf(ftpList, QStringLiteral("dest")));
    EXPECT_TRUE(Drop(ftpList, At(ftpList, QStringLiteral("dest")), mime.get()));
    EXPECT_EQ(server->ReadFile(QStringLiteral("dest/one.txt")), QByteArray("first file"));
    EXPECT_FALSE(local.Exists(QStringLiteral("here/one.txt")));
    // Another copy of the program carries the same type, but not its record.
    auto foreign = ListDragData(localList, *f);
    foreign->setData(QString::fromLatin1(kVelmarProcessMime), QByteArray("1"));
    EXPECT_FALSE(Enter(ftpList, At(ftpList, QStringLiteral("dest")), foreign.get()));
}

TEST_P(HandOver, PressAndMoveStartADragOfTheSelectionWithTheSidesImage) {
    CMyListView* localList = f->LocalList();
    localList->SelectRows({RowOf(localList, QStringLiteral("one.txt"))});
    CVelmarDoc* doc = f->App().m_doc;
    doc->m_dragSourceKind = -1;
    const QPoint from = At(localList, QStringLiteral("one.txt"));
    QTest::mousePress(localList->viewport(), Qt::LeftButton, Qt::NoModifier, from);
    for (int i = 1; i <= 4; ++i) {
        const QPointF to(from + QPoint(0, 6 * i));
        QMouseEvent move(QEvent::MouseMove, to, localList->viewport()->mapToGlobal(to),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(localList->viewport(), &move);
    }
    // The offscreen platform ends a drag at once, as a drop outside every pane.
    QDrag* drag = localList->findChild<QDrag*>();
    ASSERT_NE(drag, nullptr) << "no drag started";
    EXPECT_EQ(doc->m_dragSourceKind, DRAG_LOCAL_LIST);
    EXPECT_EQ(doc->m_dragImageIndex, 0);
    EXPECT_EQ(doc->m_dragImageOffset, QPoint(0, -20));
    EXPECT_EQ(drag->mimeData()->data(QString::fromLatin1(kVelmarDragMime)), QByteArray("1"));
    EXPECT_TRUE(drag->mimeData()->hasFormat(QString::fromLatin1(kVelmarProcessMime)));
    EXPECT_EQ(drag->pixmap().size(), QSize(32, 32));
    EXPECT_EQ(drag->pixmap().toImage(), doc->m_dragImageList.at(0).toImage());
    EXPECT_EQ(drag->hotSpot(), QPoint(0, -20));
    // Ended without a drop: no pane holds it, nothing was asked or copied.
    EXPECT_EQ(doc->m_dragLocalList + doc->m_dragFtpList, 0);
    EXPECT_TRUE(f->Boxes().Calls().isEmpty());
    QTest::mouseRelease(localList->viewport(), Qt::LeftButton, Qt::NoModifier, from);
}

INSTANTIATE_TEST_SUITE_P(Panes, HandOver,
                         testing::Values(Direction{false, true, FtpServer::Kind::Pyftpdlib}),
                         DirectionName);
} // namespace
