#include "SftpTestUtil.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>
#include <map>

// Every operation of the core's SFTP connection against OpenSSH's sshd, logged in
// through a test agent; the served tree is hashed before and after, so a step
// that touches anything beside its target fails.

namespace {

using Tree = std::map<QString, QByteArray>;

// Every name under root with its content's hash, or its link's target.
Tree HashTree(const QString& root) {
    Tree tree;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString name = QDir(root).relativeFilePath(info.filePath());
        if (info.isSymLink())
            tree[name] = "link:" + info.symLinkTarget().toUtf8();
        else if (info.isDir())
            tree[name] = "folder";
        else {
            QFile f(info.filePath());
            f.open(QIODevice::ReadOnly);
            tree[name] = QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
        }
    }
    return tree;
}

QByteArray Random(qsizetype size) {
    QByteArray data((size + 3) / 4 * 4, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(data.data()), data.size() / 4);
    return data.left(size);
}

QByteArray ReadAll(core::RemoteConnection& site, const QString& path, std::uint64_t offset) {
    auto reader = site.OpenRead(path, offset);
    QByteArray data;
    char buffer[7000]; // not a divisor of any request size
    while (const std::size_t n = reader->Read(buffer, sizeof buffer))
        data.append(buffer, qsizetype(n));
    reader->Close();
    return data;
}

void WriteAll(core::RemoteConnection& site, const QString& path, const QByteArray& data,
              core::WriteStart start, std::uint64_t offset = 0) {
    auto writer = site.OpenWrite(path, start, offset);
    for (qsizetype at = 0; at < data.size(); at += 100000)
        writer->Write(data.constData() + at,
                      std::size_t(std::min<qsizetype>(100000, data.size() - at)));
    writer->Close();
}

} // namespace

class SftpOperationsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new SshServer(SshServer::Kind::OpenSsh); }
    static void TearDownTestSuite() { delete server; }
    void SetUp() override {
        ASSERT_TRUE(server->IsRunning()) << server->Error().toStdString();
        root = server->Root() + QStringLiteral("/") +
               QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name());
        ASSERT_TRUE(QDir().mkpath(root));
        core::SftpLogin login = home.LoginFor(*server);
        login.agentSocket = server->AgentSocket();
        site = core::ConnectSftp(login, accept.Question(), {});
    }
    QString At(const QString& name) const { return root + QLatin1Char('/') + name; }

    static SshServer* server;
    SftpHome home;
    AcceptOnce accept;
    QString root;
    std::unique_ptr<core::RemoteConnection> site;
};
SshServer* SftpOperationsTest::server = nullptr;

TEST_F(SftpOperationsTest, ListShowsLinksAndNeverHostileNames) {
    Put(At("a.txt"), "abc");
    QDir().mkpath(At("dir"));
    QFile::link(At("a.txt"), At("tofile"));
    QFile::link(At("dir"), At("todir"));
    QFile::link(At("gone"), At("nowhere"));
    for (const char* bad : {"ctl\x01name", "new\nline", "del\x7f"})
        Put(At(QString::fromLatin1(bad)), "x");
    std::map<QString, core::RemoteEntry> seen;
    for (const core::RemoteEntry& e : site->List(root))
        seen[e.name] = e;
    ASSERT_EQ(seen.size(), 5u);
    const struct {
        const char* name;
        bool folder, link, targetKnown;
    } expected[] = {{"a.txt", false, false, false},
                    {"dir", true, false, false},
                    {"tofile", false, true, true},
                    {"todir", true, true, true},
                    {"nowhere", false, true, false}};
    for (const auto& x : expected) {
        SCOPED_TRACE(x.name);
        const core::RemoteEntry& e = seen[QString::fromLatin1(x.name)];
        EXPECT_EQ(e.isFolder, x.folder);
        EXPECT_EQ(e.isLink, x.link);
        EXPECT_EQ(e.targetKnown, x.targetKnown);
    }
    EXPECT_EQ(seen["a.txt"].size, 3u);
    EXPECT_EQ(seen["todir"].linkTarget, At("dir"));
    EXPECT_TRUE(site->Stat(At("todir"))->isLink);
    EXPECT_FALSE(site->Stat(At("absent")).has_value());
    EXPECT_EQ(site->Size(At("tofile")), std::optional<std::uint64_t>(3));
    EXPECT_TRUE(site->LeadsToFolder(At("todir")));
    EXPECT_EQ(site->HomeFolder(), QDir::homePath());
    try {
        site->List(At("absent"));
        ADD_FAILURE() << "a failed listing must throw";
    } catch (const core::RemoteError& e) {
        EXPECT_EQ(e.kind(), core::RemoteError::Kind::Refused);
    }
}

// Each step on a tree of files, folders and links, and what it may change.
TEST_F(SftpOperationsTest, EachStepChangesOnlyItsTarget) {
    Put(At("a.txt"), "abc");
    Put(At("b.txt"), "bcd");
    QDir().mkpath(At("dir/inner"));
    Put(At("dir/inner/keep"), "keep");
    QDir().mkpath(At("empty"));
    QFile::link(At("dir"), At("todir"));
    QFile::link(At("b.txt"), At("tob"));
    struct Step {
        const char* what;
        std::function<void()> run;
        std::function<void(Tree&)> change; // what it does to the tree; null: refused
    };
    const Step steps[] = {
        {"make folder", [&] { site->MakeFolder(At("made")); },
         [](Tree& t) { t["made"] = "folder"; }},
        {"make an existing folder", [&] { site->MakeFolder(At("dir")); }, nullptr},
        {"rename", [&] { site->Rename(At("a.txt"), At("c.txt")); },
         [](Tree& t) {
             t["c.txt"] = t["a.txt"];
             t.erase("a.txt");
         }},
        {"rename over a file", [&] { site->Rename(At("c.txt"), At("b.txt")); }, nullptr},
        {"rename over a folder", [&] { site->Rename(At("c.txt"), At("empty")); }, nullptr},
        // sshd offers posix-rename@openssh.com: one step, no temporary name.
        {"replace", [&] { site->Replace(At("c.txt"), At("b.txt")); },
         [](Tree& t) {
             t["b.txt"] = t["c.txt"];
             t.erase("c.txt");
         }},
        {"delete a link to a folder", [&] { site->DeleteLink(At("todir")); },
         [](Tree& t) { t.erase("todir"); }},
        {"delete a link to a file", [&] { site->DeleteFile(At("tob")); },
         [](Tree& t) { t.erase("tob"); }},
        {"delete a full folder", [&] { site->DeleteFolder(At("dir")); }, nullptr},
        {"delete an empty folder", [&] { site->DeleteFolder(At("empty")); },
         [](Tree& t) { t.erase("empty"); }},
        {"delete a missing file", [&] { site->DeleteFile(At("absent")); }, nullptr},
        {"delete a file", [&] { site->DeleteFile(At("b.txt")); },
         [](Tree& t) { t.erase("b.txt"); }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        Tree expected = HashTree(root);
        try {
            step.run();
            EXPECT_TRUE(step.change) << "not refused";
        } catch (const core::RemoteError& e) {
            EXPECT_FALSE(step.change) << e.words().toStdString();
            EXPECT_EQ(e.kind(), core::RemoteError::Kind::Refused);
        }
        if (step.change)
            step.change(expected);
        EXPECT_EQ(HashTree(root), expected);
    }
}

// Whole files of the sizes where a fault could hide (nothing, one byte, one
// request, one buffer, many), from offsets, and the ways a write starts.
TEST_F(SftpOperationsTest, ReadsAndWritesWholeAndFromOffsets) {
    for (const qsizetype size : {0, 1, 30000, 4 << 20, 10000000}) {
        SCOPED_TRACE(size);
        const QByteArray data = Random(size);
        const QString name = QStringLiteral("f%1").arg(size);
        WriteAll(*site, At(name), data, core::WriteStart::New);
        EXPECT_EQ(Get(At(name)), data);
        EXPECT_EQ(ReadAll(*site, At(name), 0), data);
        EXPECT_EQ(ReadAll(*site, At(name), std::uint64_t(size / 3)), data.mid(size / 3));
        EXPECT_EQ(site->Size(At(name)), std::optional<std::uint64_t>(std::uint64_t(size)));
        // A resumed write keeps the head and ends where it ends.
        const QByteArray tail = Random(size / 4);
        WriteAll(*site, At(name), tail, core::WriteStart::AtOffset, std::uint64_t(size / 2));
        EXPECT_EQ(Get(At(name)), data.left(size / 2) + tail);
        const QByteArray fresh = Random(size / 5);
        WriteAll(*site, At(name), fresh, core::WriteStart::Fresh);
        EXPECT_EQ(Get(At(name)), fresh);
    }
    // A read closed before the end leaves the file as it was.
    auto partial = site->OpenRead(At("f10000000"), 0);
    char some[10];
    EXPECT_EQ(partial->Read(some, sizeof some), sizeof some);
    partial->Close();
    const Tree before = HashTree(root);
    EXPECT_THROW(WriteAll(*site, At("f1"), "x", core::WriteStart::New), core::RemoteError);
    EXPECT_THROW(ReadAll(*site, At("absent"), 0), core::RemoteError);
    EXPECT_EQ(HashTree(root), before);
}

// Reads run ahead on a thread of their own; two files read in turns, with other
// steps of the same connection in between, still arrive whole and in order, and
// a read dropped halfway leaves the connection usable.
TEST_F(SftpOperationsTest, ReadsInTurnWithOtherSteps) {
    const QByteArray one = Random(9000000), two = Random(5000000);
    Put(At("one"), one);
    Put(At("two"), two);
    auto a = site->OpenRead(At("one"), 0);
    auto b = site->OpenRead(At("two"), 0);
    QByteArray gotA, gotB;
    char buffer[300000];
    for (int turn = 0; gotA.size() < one.size() || gotB.size() < two.size(); ++turn) {
        auto [reader, got] = turn % 2 ? std::tie(a, gotA) : std::tie(b, gotB);
        got.append(buffer, qsizetype(reader->Read(buffer, sizeof buffer)));
        if (turn % 7 == 0) {
            EXPECT_EQ(site->List(root).size(), std::size_t(2 + turn / 7 % 2));
        }
        if (turn % 7 == 3)
            turn / 7 % 2 ? site->DeleteFile(At("three"))
                         : WriteAll(*site, At("three"), "3", core::WriteStart::New);
    }
    EXPECT_EQ(a->Read(buffer, sizeof buffer), 0u);
    a->Close();
    b->Close();
    EXPECT_TRUE(gotA == one && gotB == two);
    site->OpenRead(At("one"), 0)->Read(buffer, 10);
    EXPECT_EQ(ReadAll(*site, At("two"), 4000000), two.mid(4000000));
}
