// Temporary names left by a run that was killed mid-copy are removed at the next
// start and login, and nothing else: not the names of a run still going, not
// what a damaged journal seems to name, not what lies behind a link.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <csignal>
#include <gtest/gtest.h>

#include "../../transfer/TreeHashes.h"
#include "CopyMessages.h"
#include "FtpServer.h"
#include "MessageBoxRecorder.h"
#include "Profile.h"
#include "RemoteLeftovers.h"
#include "TempJournal.h"
#include "TransferPaths.h"

namespace {

using tempjournal::Journal;

bool WriteLocal(const QString& path, const QByteArray& data) {
    QDir().mkpath(transferpaths::ParentOf(path));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// Names below root that a killed copy leaves (hidden and marked as ours).
bool HasLeftover(const QString& root) {
    const TreeHashes tree = HashTree(root);
    return std::any_of(tree.begin(), tree.end(),
                       [](const auto& e) { return e.first.contains(".velmar-part-"); });
}

struct KillCase {
    const char* name;
    const char* mode;
    QString from, to;
    bool lateRename; // the server answers RNFR late: the copy waits there
    FtpServer::Kind kind = FtpServer::Kind::Pyftpdlib;
};

void PrintTo(const KillCase& c, std::ostream* out) {
    *out << c.name;
}

class KilledCopy : public testing::TestWithParam<KillCase> {};

TEST_P(KilledCopy, LeavesNothingAfterTheNextStartAndLogin) {
    const KillCase& c = GetParam();
    FtpServer::Options options;
    if (c.lateRename) {
        options.lateMs = 4000;
        options.lateVerbs = QStringLiteral("RNFR");
    }
    FtpServer server(c.kind, options);
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    QTemporaryDir local;
    ASSERT_TRUE(server.MakeDir("docs") && server.MakeDir("tree"));
    ASSERT_TRUE(server.WriteFile("docs/big.bin", QByteArray(3 << 20, 'o')));
    ASSERT_TRUE(server.WriteFile("tree/old.txt", "old"));
    ASSERT_TRUE(WriteLocal(local.filePath("big.bin"), QByteArray(6 << 20, 'n')));
    ASSERT_TRUE(WriteLocal(local.filePath("down/big.bin"), QByteArray(1 << 20, 'l')));
    ASSERT_TRUE(WriteLocal(local.filePath("tree/a.txt"), "new a"));
    ASSERT_TRUE(WriteLocal(local.filePath("tree/sub/b.txt"), "new b"));
    const TreeHashes serverBefore = HashTree(server.Root());
    const TreeHashes localBefore = HashTree(local.path());

    const QString from = c.from.startsWith('/') ? c.from : local.filePath(c.from);
    const QString to = c.to.startsWith('/') ? c.to : local.filePath(c.to);
    const QStringList login{server.Address(), server.User(), server.Password()};
    QProcess copy;
    copy.start(LEFTOVER_HELPER, QStringList{c.mode} + login + QStringList{from, to});
    ASSERT_TRUE(copy.waitForStarted());
    bool mid = false;
    for (int i = 0; i < 1500 && !mid && copy.state() == QProcess::Running; ++i) {
        copy.waitForReadyRead(10);
        mid = copy.readAllStandardOutput().contains("MID") ||
              (c.lateRename && HasLeftover(server.Root()));
    }
    ASSERT_TRUE(mid) << copy.readAllStandardError().toStdString();
    ASSERT_FALSE(Journal().Entries().empty());
    ::kill(pid_t(copy.processId()), SIGKILL);
    copy.waitForFinished();
    EXPECT_TRUE(HasLeftover(server.Root()) || HasLeftover(local.path()));

    QProcess again;
    again.start(LEFTOVER_HELPER, QStringList{"sweep"} + login);
    ASSERT_TRUE(again.waitForFinished(30000));
    EXPECT_EQ(again.exitCode(), 0) << again.readAllStandardError().toStdString();
    EXPECT_EQ(HashTree(server.Root()), serverBefore);
    EXPECT_EQ(HashTree(local.path()), localBefore);
    EXPECT_TRUE(Journal().Entries().empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, KilledCopy,
                         testing::Values(KillCase{"UploadOverAFile", "upload", "big.bin",
                                                  "//docs/big.bin", false},
                                         KillCase{"DownloadOverAFile", "download", "/docs/big.bin",
                                                  "down/big.bin", false},
                                         KillCase{"FolderReplace", "folder", "tree", "/", true},
                                         KillCase{"UploadOverAFileVsftpd", "upload", "big.bin",
                                                  "/docs/big.bin", false, FtpServer::Kind::Vsftpd}),
                         [](const auto& info) { return std::string(info.param.name); });

// Writes one journal line as the program writes them.
QByteArray Line(char kind, qint64 pid, quint64 started, const QString& path,
                const QString& site = tempjournal::LocalSite(), const QString& replaces = {}) {
    return "1 " + QByteArray(1, kind) + ' ' + QByteArray::number(pid) + ' ' +
           QByteArray::number(started) + ' ' + tempjournal::Self().boot.toLatin1() + ' ' +
           QUrl::toPercentEncoding(site) + ' ' + QUrl::toPercentEncoding(path) + ' ' +
           (replaces.isEmpty() ? QByteArray("-") : QUrl::toPercentEncoding(replaces)) + '\n';
}

// A run killed between the two renames of a replace: the old one stands aside and
// its place is empty. It goes back, on either side; an old one whose place was
// taken goes, and so does the copy that never took its place.
TEST(TempJournal, AnOldOneWhosePlaceStayedEmptyGoesBack) {
    FtpServer server(FtpServer::Kind::Pyftpdlib);
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    QTemporaryDir local, expected;
    CProfile profile;
    profile.m_address = server.Address();
    profile.m_userId = server.User();
    const auto& self = tempjournal::Self();
    QByteArray journal;
    for (const QString& root : {server.Root(), local.path(), expected.path()}) {
        const bool onFtp = root == server.Root();
        const QString at = onFtp ? QString() : root;
        const QString site = onFtp ? core::LeftoverSiteOf(profile) : tempjournal::LocalSite();
        const QString old = root == expected.path() ? "/tree" : "/.tree.velmar-old-1a";
        ASSERT_TRUE(WriteLocal(root + old + "/old.txt", "old") && WriteLocal(root + "/f", "new"));
        if (root == expected.path())
            break;
        ASSERT_TRUE(WriteLocal(root + "/.tree.velmar-new-2b/new.txt", "new") &&
                    WriteLocal(root + "/.f.velmar-old-3c", "old"));
        journal += Line('D', self.pid, self.started + 1, at + old, site, at + "/tree");
        journal += Line('D', self.pid, self.started + 1, at + "/.tree.velmar-new-2b", site);
        journal += Line('F', self.pid, self.started + 1, at + "/.f.velmar-old-3c", site, at + "/f");
    }
    ASSERT_TRUE(WriteLocal(Journal::DefaultPath(), journal));
    ASSERT_EQ(Journal().Entries().size(), 6u);
    QProcess again;
    again.start(LEFTOVER_HELPER, {"sweep", server.Address(), server.User(), server.Password()});
    ASSERT_TRUE(again.waitForFinished(30000));
    EXPECT_EQ(HashTree(server.Root()), HashTree(expected.path()));
    EXPECT_EQ(HashTree(local.path()), HashTree(expected.path()));
    EXPECT_TRUE(Journal().Entries().empty());
}

TEST(TempJournal, SweepRemovesOnlyWhatAnEndedRunMade) {
    QTemporaryDir dir;
    const QString d = dir.path();
    const auto& self = tempjournal::Self();
    ASSERT_GT(self.started, 0u);
    const QString live = d + "/.live.velmar-part-1a", reused = d + "/.reused.velmar-part-2b",
                  linked = d + "/.linked.velmar-new-3c", typed = d + "/.typed.velmar-part-4d",
                  stray = d + "/stray.txt";
    for (const QString& path : {live, reused, typed + "/inside", stray, d + "/target/keep"})
        ASSERT_TRUE(WriteLocal(path, "x"));
    ASSERT_TRUE(QFile::link(d + "/target", linked));
    const TreeHashes before = HashTree(d);

    // Garbage, a line whose name is not one of ours, a live owner, the same pid
    // started at another time (taken as another process), a link recorded as a
    // folder and a folder recorded as a file: only the reused pid's file goes.
    QByteArray journal = "\x01\x02 garbage\n1 F 1 2 3\n";
    journal += Line('F', self.pid, self.started, stray);
    journal += Line('F', self.pid, self.started, live);
    journal += Line('F', self.pid, self.started + 1, reused);
    journal += Line('D', self.pid, self.started + 1, linked);
    journal += Line('F', self.pid, self.started + 1, typed);
    const QString path = d + "/config/temporary-names";
    ASSERT_TRUE(WriteLocal(path, journal));
    const Journal j(path);
    int unreadable = 0;
    EXPECT_EQ(j.Entries(&unreadable).size(), 4u);
    EXPECT_EQ(unreadable, 3);

    const auto report = j.Sweep(tempjournal::LocalSite(), tempjournal::RemoveLocal,
                                std::chrono::steady_clock::now() + std::chrono::seconds(5));
    EXPECT_EQ(report.removed, 1);
    EXPECT_EQ(report.gone, 2);
    EXPECT_EQ(report.running, 1);
    EXPECT_EQ(report.unreadable, 3);
    TreeHashes expected = before;
    expected.erase(QStringLiteral(".reused.velmar-part-2b"));
    TreeHashes after = HashTree(d);
    after.erase(QStringLiteral("config"));
    std::erase_if(after, [](const auto& e) { return e.first.startsWith("config/"); });
    EXPECT_EQ(after, expected);
    // The damaged file is kept aside whole, and the journal goes on with the live entry.
    QFile damaged(path + ".damaged");
    ASSERT_TRUE(damaged.open(QIODevice::ReadOnly));
    EXPECT_EQ(damaged.readAll(), journal);
    ASSERT_EQ(j.Entries(&unreadable).size(), 1u);
    EXPECT_EQ(unreadable, 0);
    EXPECT_TRUE(j.Drop(tempjournal::LocalSite(), live));
    EXPECT_TRUE(j.Entries().empty());
}

TEST(TempJournal, LeftoversAreNamedWithOneSlash) {
    const QString temp = transferpaths::TempSibling("//docs/.bigup.bin", "part");
    EXPECT_TRUE(temp.startsWith("/docs/..bigup.bin.velmar-part-")) << temp.toStdString();
    EXPECT_TRUE(transferpaths::IsTempPath(temp));
    for (const char* bad : {"docs/.a.velmar-part-1", "/docs/a.velmar-part-1",
                            "/../.a.velmar-part-1", "/d/.a.velmar-part-xyz", "/d/.a.velmar-copy-1"})
        EXPECT_FALSE(transferpaths::IsTempPath(bad)) << bad;
    MessageBoxRecorder boxes;
    copymessages::PartialLeft(nullptr, "//docs/.bigup.bin.velmar-part-8fe4f69a26", false);
    copymessages::OldKeptAside(nullptr, "//docs/a", "//docs/.a.velmar-old-1", false);
    ASSERT_EQ(boxes.Calls().size(), 2);
    for (const auto& call : boxes.Calls()) {
        EXPECT_FALSE(call.text.contains("//")) << call.text.toStdString();
        EXPECT_TRUE(call.text.contains(" /docs/.")) << call.text.toStdString();
    }
}

} // namespace
