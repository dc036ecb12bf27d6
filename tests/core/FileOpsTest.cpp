// Create, rename and delete, one item at a time, on real folders and real
// servers: a rename never takes an existing name, and a refusal comes back typed
// with the system's or the server's own words.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "FtpConnection.h"
#include "FtpFileOps.h"
#include "FtpRemote.h"
#include "FtpLogin.h"
#include "FtpServer.h"
#include "InternetSession.h"
#include "LocalFileOps.h"

namespace {

using core::FileOp;
using core::OpErrorKind;

bool Write(const QString& path, const QByteArray& data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

TEST(LocalFileOps, RenameOntoAnExistingNameIsRefusedAndBothStayAsTheyWere) {
    QTemporaryDir dir;
    const auto at = [&](const char* name) { return dir.filePath(QString::fromUtf8(name)); };
    ASSERT_TRUE(Write(at("a.txt"), "A") && Write(at("b.txt"), "B"));
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("full/in")) && Write(at("full/f"), "F"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("empty")));
    ASSERT_EQ(::symlink("b.txt", at("link").toLocal8Bit().constData()), 0);
    ASSERT_EQ(::symlink("nowhere", at("dangling").toLocal8Bit().constData()), 0);
    const struct {
        const char* from;
        const char* to;
    } cases[] = {
        {"a.txt", "b.txt"}, // file onto file
        {"a.txt", "empty"}, // file onto empty folder
        {"empty", "full"},  // folder onto folder
        {"full", "empty"},  // the empty one would be replaced by rename(2)
        {"a.txt", "link"},  // onto a link: the link is not replaced either
        {"a.txt", "dangling"},
    };
    for (const auto& c : cases) {
        const core::OpResult r = core::RenameLocal(at(c.from), at(c.to));
        EXPECT_EQ(r.kind, OpErrorKind::NameTaken) << c.from << " -> " << c.to;
        EXPECT_EQ(r.op, FileOp::Rename);
        EXPECT_EQ(r.path, at(c.to));
        EXPECT_FALSE(r.words.isEmpty());
    }
    EXPECT_EQ(Read(at("a.txt")), "A");
    EXPECT_EQ(Read(at("b.txt")), "B");
    EXPECT_EQ(Read(at("full/f")), "F");
    EXPECT_TRUE(QFileInfo(at("full/in")).isDir());
    EXPECT_TRUE(QFileInfo(at("empty")).isDir());
    EXPECT_EQ(QFileInfo(at("dangling")).symLinkTarget().section('/', -1), "nowhere");

    EXPECT_TRUE(core::RenameLocal(at("a.txt"), at("c.txt")).Ok());
    EXPECT_EQ(Read(at("c.txt")), "A");
    EXPECT_FALSE(QFileInfo::exists(at("a.txt")));
    // A source that is not there is a failure, not a taken name.
    EXPECT_EQ(core::RenameLocal(at("a.txt"), at("d.txt")).kind, OpErrorKind::Failed);
}

TEST(LocalFileOps, RefusalsAreTypedWithTheSystemsWords) {
    QTemporaryDir dir;
    const auto at = [&](const char* name) { return dir.filePath(QString::fromUtf8(name)); };
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("full/x")));
    ASSERT_TRUE(Write(at("ro.txt"), "keep"));
    ASSERT_EQ(::chmod(at("ro.txt").toLocal8Bit().constData(), 0444), 0);
    const bool root = ::geteuid() == 0; // root may write a read-only file
    const struct {
        const char* what;
        core::OpResult result;
        FileOp op;
        bool fails;
    } cases[] = {
        {"create over a folder", core::CreateLocalFolder(at("full")), FileOp::CreateFolder, true},
        {"create in a missing folder", core::CreateLocalFolder(at("no/new")), FileOp::CreateFolder,
         true},
        {"delete a folder as a file", core::DeleteLocalFile(at("full")), FileOp::DeleteFile, true},
        {"delete a missing file", core::DeleteLocalFile(at("gone")), FileOp::DeleteFile, true},
        {"delete a read-only file", core::DeleteLocalFile(at("ro.txt")), FileOp::DeleteFile, !root},
        {"remove a folder with things in it", core::DeleteEmptyLocalFolder(at("full")),
         FileOp::DeleteFolder, true},
        {"remove an empty folder", core::DeleteEmptyLocalFolder(at("full/x")), FileOp::DeleteFolder,
         false},
        {"create a new folder", core::CreateLocalFolder(at("made")), FileOp::CreateFolder, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.result.op, c.op) << c.what;
        EXPECT_EQ(c.result.Ok(), !c.fails) << c.what;
        if (c.fails) {
            EXPECT_EQ(c.result.kind, OpErrorKind::Failed) << c.what;
            EXPECT_FALSE(c.result.words.isEmpty()) << c.what;
            EXPECT_FALSE(c.result.path.isEmpty()) << c.what;
        }
    }
    EXPECT_TRUE(QFileInfo(at("full")).isDir());
    EXPECT_FALSE(QFileInfo::exists(at("full/x")));
    EXPECT_TRUE(QFileInfo(at("made")).isDir());
    if (!root) {
        EXPECT_EQ(Read(at("ro.txt")), "keep");
    }
}

// An FTP path at the server's root.
QString Path(const char* name) {
    return QStringLiteral("/") + QString::fromUtf8(name);
}

class FtpFileOps : public testing::TestWithParam<FtpServer::Kind> {};

TEST_P(FtpFileOps, RenameOntoAnExistingNameIsRefusedAndTheServersDataStays) {
    FtpLogin s(GetParam());
    ASSERT_TRUE(s.server.IsRunning()) << s.server.Error().toStdString();
    ASSERT_NE(s.connection, nullptr);
    core::FtpRemote remote(*s.connection, nullptr);
    ASSERT_TRUE(s.server.WriteFile(QStringLiteral("a.txt"), "A"));
    ASSERT_TRUE(s.server.WriteFile(QStringLiteral("b.txt"), "B"));
    ASSERT_TRUE(s.server.MakeDir(QStringLiteral("empty")));
    ASSERT_TRUE(s.server.MakeDir(QStringLiteral("full")));
    ASSERT_TRUE(s.server.WriteFile(QStringLiteral("full/f"), "F"));
    const struct {
        const char* from;
        const char* to;
    } cases[] = {{"a.txt", "b.txt"}, {"empty", "full"}, {"full", "empty"}, {"a.txt", "empty"}};
    for (const auto& c : cases) {
        const core::OpResult r = core::RenameFtp(&remote, Path(c.from), Path(c.to));
        EXPECT_EQ(r.kind, OpErrorKind::NameTaken) << c.from << " -> " << c.to;
        EXPECT_EQ(r.op, FileOp::Rename);
    }
    EXPECT_EQ(s.server.ReadFile(QStringLiteral("a.txt")), "A");
    EXPECT_EQ(s.server.ReadFile(QStringLiteral("b.txt")), "B");
    EXPECT_EQ(s.server.ReadFile(QStringLiteral("full/f")), "F");
    EXPECT_TRUE(QFileInfo(s.server.PathOf(QStringLiteral("empty"))).isDir());

    EXPECT_TRUE(core::RenameFtp(&remote, Path("a.txt"), Path("c.txt")).Ok());
    EXPECT_EQ(s.server.ReadFile(QStringLiteral("c.txt")), "A");
    EXPECT_FALSE(QFileInfo::exists(s.server.PathOf(QStringLiteral("a.txt"))));
    // The server refuses a source that is not there, in its own words.
    const core::OpResult missing =
        core::RenameFtp(&remote, Path("a.txt"), Path("d.txt"));
    EXPECT_EQ(missing.kind, OpErrorKind::Failed);
    EXPECT_TRUE(missing.words.startsWith(QLatin1String("550"))) << missing.words.toStdString();
}

TEST_P(FtpFileOps, RefusalsCarryTheServersWords) {
    FtpLogin s(GetParam());
    ASSERT_TRUE(s.server.IsRunning()) << s.server.Error().toStdString();
    ASSERT_NE(s.connection, nullptr);
    core::FtpRemote remote(*s.connection, nullptr);
    ASSERT_TRUE(s.server.MakeDir(QStringLiteral("full")));
    ASSERT_TRUE(s.server.WriteFile(QStringLiteral("full/f"), "F"));
    core::RemoteConnection* c = &remote;
    const struct {
        const char* what;
        core::OpResult result;
        FileOp op;
    } refused[] = {
        {"create an existing folder", core::CreateFtpFolder(c, Path("full")), FileOp::CreateFolder},
        {"delete a missing file", core::DeleteFtpFile(c, Path("gone")), FileOp::DeleteFile},
        {"remove a folder with a file", core::DeleteEmptyFtpFolder(c, Path("full")),
         FileOp::DeleteFolder},
        {"delete a folder as a file", core::DeleteFtpFile(c, Path("full")), FileOp::DeleteFile},
    };
    for (const auto& r : refused) {
        EXPECT_EQ(r.result.op, r.op) << r.what;
        EXPECT_EQ(r.result.kind, OpErrorKind::Failed) << r.what;
        EXPECT_TRUE(r.result.words.startsWith(QLatin1String("550")))
            << r.what << ": " << r.result.words.toStdString();
    }
    EXPECT_EQ(s.server.ReadFile(QStringLiteral("full/f")), "F");
    // No connection at all is a failure with a reason, never a crash.
    const core::OpResult none = core::CreateFtpFolder(nullptr, Path("x"));
    EXPECT_EQ(none.kind, OpErrorKind::Failed);
    EXPECT_FALSE(none.words.isEmpty());

    EXPECT_TRUE(core::CreateFtpFolder(c, Path("made")).Ok());
    EXPECT_TRUE(core::DeleteFtpFile(c, Path("full/f")).Ok());
    EXPECT_TRUE(core::DeleteEmptyFtpFolder(c, Path("full")).Ok());
    EXPECT_TRUE(QFileInfo(s.server.PathOf(QStringLiteral("made"))).isDir());
    EXPECT_FALSE(QFileInfo::exists(s.server.PathOf(QStringLiteral("full"))));
    EXPECT_EQ(core::FindFtpPath(c, Path("made")), core::FtpFound::Something);
    EXPECT_EQ(core::FindFtpPath(c, Path("full")), core::FtpFound::Nothing);
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpFileOps,
                         testing::Values(FtpServer::Kind::Pyftpdlib, FtpServer::Kind::Vsftpd),
                         [](const auto& info) { return FtpServer::KindName(info.param); });

} // namespace
