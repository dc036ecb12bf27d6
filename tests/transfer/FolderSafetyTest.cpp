// Folder copies against real servers and real folders: trees too deep, listings
// that fail, and links on either side. Each case hashes both whole trees before
// and after: nothing but the intended destination may change.
#include <QDir>
#include "Await.h"
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TransferFixture.h"
#include "TreeHashes.h"

namespace {

const QString kCopyFolder = QStringLiteral("Error Copying Folder");

// Folder copies in one direction against one server, with helpers on both sides.
class FolderSafety {
public:
    FolderSafety(FtpServer::Kind kind, Direction dir, FtpServer::Options options = {})
        : env(kind, options), m_dir(dir) {}

    bool Start() {
        if (!env.server.IsRunning() || !env.Connect())
            return false;
        dlg = env.NewStatusWindow();
        return true;
    }
    bool SourceLocal() const { return m_dir == Direction::LocalToFtp; }
    bool DestinationLocal() const { return m_dir == Direction::FtpToLocal; }
    QString SourceDisk(const QString& rel) const {
        return SourceLocal() ? env.Local(rel) : env.server.PathOf(rel);
    }
    QString DestinationDisk(const QString& rel) const {
        return DestinationLocal() ? env.Local(rel) : env.server.PathOf(rel);
    }
    bool MakeSourceDir(const QString& rel) const {
        return SourceLocal() ? QDir().mkpath(env.Local(rel)) : env.server.MakeDir(rel);
    }
    bool WriteSource(const QString& rel, const QByteArray& data) const {
        return SourceLocal() ? TransferEnv::WriteLocal(env.Local(rel), data)
                             : env.server.WriteFile(rel, data);
    }
    bool LinkInSource(const QString& rel, const QString& target) const {
        return ::symlink(QFile::encodeName(target), QFile::encodeName(SourceDisk(rel))) == 0;
    }
    bool Copy(const QString& from, const QString& to) {
        switch (m_dir) {
        case Direction::LocalToFtp:
            return Await(dlg->CopyFolderLocalToFtp(env.Local(from), "/" + to));
        case Direction::FtpToLocal:
            return Await(dlg->CopyFolderFtpToLocal("/" + from, env.Local(to)));
        case Direction::FtpToFtp:
            return Await(dlg->CopyFolderFtpToFtp("/" + from, "/" + to));
        }
        return false;
    }
    TreeHashes Both() const {
        TreeHashes both;
        for (const auto& [path, hash] : HashTree(env.Local("")))
            both["local/" + path] = hash;
        for (const auto& [path, hash] : HashTree(env.server.Root()))
            both["server/" + path] = hash;
        return both;
    }
    // Both trees as they must be after a copy of source to destination: the
    // destination side gains the entries of expected below destination.
    TreeHashes With(TreeHashes both, const QString& destination, const TreeHashes& expected) const {
        const QString side = DestinationLocal() ? "local/" : "server/";
        both[side + destination] = "<folder>";
        for (const auto& [path, hash] : expected)
            both[side + destination + "/" + path] = hash;
        return both;
    }

    TransferEnv env;
    std::unique_ptr<CCommStatusDlg> dlg;

private:
    Direction m_dir;
};

class FolderSafetyTest : public testing::TestWithParam<Param> {
protected:
    void SetUp() override {
        copy = std::make_unique<FolderSafety>(std::get<0>(GetParam()), std::get<1>(GetParam()));
        ASSERT_TRUE(copy->Start()) << copy->env.server.Error().toStdString();
    }
    void TearDown() override { copy.reset(); }
    std::unique_ptr<FolderSafety> copy;
};

// A chain of folders levels deep below (and including) "deep", a file at the bottom.
QString MakeChain(FolderSafety& copy, int levels) {
    QString rel = "deep";
    EXPECT_TRUE(copy.MakeSourceDir(rel));
    for (int level = 2; level <= levels; ++level) {
        rel += "/d";
        EXPECT_TRUE(copy.MakeSourceDir(rel));
    }
    EXPECT_TRUE(copy.WriteSource(rel + "/bottom.txt", "at the bottom"));
    return rel;
}

TEST_P(FolderSafetyTest, ATreeDeeperThan64LevelsStopsBeforeAnythingIsMade) {
    struct Case {
        int levels;
        bool copies;
    };
    for (const Case c : {Case{64, true}, Case{65, false}, Case{70, false}}) {
        SCOPED_TRACE(c.levels);
        copy->env.boxes.Clear();
        const QString bottom = MakeChain(*copy, c.levels);
        const TreeHashes before = copy->Both();
        const QString to = QStringLiteral("copy%1").arg(c.levels);
        EXPECT_EQ(copy->Copy("deep", to), c.copies);
        if (c.copies) {
            EXPECT_EQ(copy->env.boxes.Count(), 0);
            const QString arrived = to + bottom.mid(4) + "/bottom.txt";
            EXPECT_EQ(TransferEnv::ReadLocal(copy->DestinationDisk(arrived)), "at the bottom");
        } else {
            ASSERT_EQ(copy->env.boxes.Captions(), QStringList{kCopyFolder});
            EXPECT_TRUE(copy->env.boxes.Calls()[0].text.contains("more than 64 levels deep"));
            EXPECT_EQ(copy->Both(), before);
        }
        ASSERT_TRUE(QDir(copy->SourceDisk("deep")).removeRecursively());
    }
}

TEST_P(FolderSafetyTest, LinksAreNeverFollowedIntoAndLinksToFilesAreCopiedAsFiles) {
    ASSERT_TRUE(copy->MakeSourceDir("src/sub"));
    ASSERT_TRUE(copy->WriteSource("src/data.txt", "the data"));
    ASSERT_TRUE(copy->WriteSource("src/sub/inner.txt", "inner"));
    ASSERT_TRUE(copy->MakeSourceDir("outside"));
    ASSERT_TRUE(copy->WriteSource("outside/keep.txt", "keep"));
    ASSERT_TRUE(copy->LinkInSource("src/file-link", "data.txt"));
    ASSERT_TRUE(copy->LinkInSource("src/etc-link", "/etc/"));
    ASSERT_TRUE(copy->LinkInSource("src/sub/up", ".."));
    ASSERT_TRUE(copy->LinkInSource("src/out", copy->SourceLocal() ? copy->SourceDisk("outside")
                                                                  : QString("../outside")));
    const TreeHashes before = copy->Both();
    ASSERT_TRUE(copy->Copy("src", "dst")) << copy->env.boxes.Calls().value(0).text.toStdString();
    EXPECT_EQ(copy->env.boxes.Count(), 0);
    const TreeHashes expected = {{"data.txt", HashOf("the data")},
                                 {"file-link", HashOf("the data")},
                                 {"sub", "<folder>"},
                                 {"sub/inner.txt", HashOf("inner")}};
    EXPECT_EQ(HashTree(copy->DestinationDisk("dst")), expected);
    EXPECT_EQ(copy->Both(), copy->With(before, "dst", expected));
}

INSTANTIATE_TEST_SUITE_P(
    Servers, FolderSafetyTest,
    testing::Combine(testing::Values(FtpServer::Kind::Vsftpd, FtpServer::Kind::Pyftpdlib),
                     testing::Values(Direction::LocalToFtp, Direction::FtpToLocal,
                                     Direction::FtpToFtp)),
    ParamName);

// The same link rules on a server that lists only with LIST, as many do.
class ListOnlyLinks : public testing::TestWithParam<Direction> {};

TEST_P(ListOnlyLinks, ALinkToAFolderOutsideIsNotDescendedInto) {
    FtpServer::Options options;
    options.noMlsd = true;
    FolderSafety copy(FtpServer::Kind::Pyftpdlib, GetParam(), options);
    ASSERT_TRUE(copy.Start()) << copy.env.server.Error().toStdString();
    ASSERT_TRUE(copy.MakeSourceDir("src"));
    ASSERT_TRUE(copy.WriteSource("src/a.txt", "a"));
    ASSERT_TRUE(copy.LinkInSource("src/link", "/etc/"));
    ASSERT_TRUE(copy.LinkInSource("src/a-link", "a.txt"));
    const TreeHashes before = copy.Both();
    ASSERT_TRUE(copy.Copy("src", "dst"));
    EXPECT_EQ(copy.env.boxes.Count(), 0);
    const TreeHashes expected = {{"a.txt", HashOf("a")}, {"a-link", HashOf("a")}};
    EXPECT_EQ(copy.Both(), copy.With(before, "dst", expected));
}

INSTANTIATE_TEST_SUITE_P(Directions, ListOnlyLinks,
                         testing::Values(Direction::FtpToLocal, Direction::FtpToFtp),
                         [](const testing::TestParamInfo<Direction>& info) {
                             return info.param == Direction::FtpToLocal ? "FtpToLocal" : "FtpToFtp";
                         });

// pyftpdlib names each folder by device and inode in MLSD, and lists a link to a
// folder as a folder. A link back up the tree is either seen as a link and left
// out, or met as a folder already entered: either way the copy never goes round.
TEST(FolderCycle, ALinkBackUpTheTreeIsNeverGoneRound) {
    FolderSafety copy(FtpServer::Kind::Pyftpdlib, Direction::FtpToLocal);
    ASSERT_TRUE(copy.Start()) << copy.env.server.Error().toStdString();
    ASSERT_TRUE(copy.MakeSourceDir("src/a"));
    ASSERT_TRUE(copy.WriteSource("src/a/file.txt", "f"));
    ASSERT_TRUE(copy.LinkInSource("src/a/loop", ".."));
    const TreeHashes before = copy.Both();
    if (copy.Copy("src", "dst")) {
        EXPECT_EQ(copy.env.boxes.Count(), 0);
        EXPECT_EQ(HashTree(copy.DestinationDisk("dst")),
                  TreeHashes({{"a", "<folder>"}, {"a/file.txt", HashOf("f")}}));
    } else {
        ASSERT_EQ(copy.env.boxes.Captions(), QStringList{kCopyFolder});
        EXPECT_TRUE(copy.env.boxes.Calls()[0].text.contains("leads back to a folder"))
            << copy.env.boxes.Calls()[0].text.toStdString();
        EXPECT_EQ(copy.Both(), before);
    }
}

// vsftpd serves as an ordinary user, so a folder without permissions cannot be
// listed: the copy ends with its message and makes nothing.
class RefusedListing : public testing::TestWithParam<Direction> {};

TEST_P(RefusedListing, AFolderThatCannotBeListedFailsTheCopyAndMakesNothing) {
    FolderSafety copy(FtpServer::Kind::Vsftpd, GetParam());
    ASSERT_TRUE(copy.Start()) << copy.env.server.Error().toStdString();
    for (const QString locked : {"src", "src/sub/locked"}) {
        SCOPED_TRACE(locked.toStdString());
        copy.env.boxes.Clear();
        ASSERT_TRUE(copy.MakeSourceDir("src/sub/locked"));
        ASSERT_TRUE(copy.WriteSource("src/a.txt", "a"));
        ASSERT_TRUE(copy.WriteSource("src/sub/locked/secret.txt", "s"));
        ASSERT_EQ(::chmod(QFile::encodeName(copy.SourceDisk(locked)), 0), 0);
        const TreeHashes before = copy.Both();
        EXPECT_FALSE(copy.Copy("src", "dst"));
        ASSERT_EQ(copy.env.boxes.Captions(), QStringList{kCopyFolder});
        EXPECT_EQ(copy.env.boxes.Calls()[0].text,
                  QStringLiteral("The program was unable to read the folder /%1. Nothing more "
                                 "was copied.")
                      .arg(locked));
        EXPECT_EQ(copy.Both(), before);
        ASSERT_EQ(::chmod(QFile::encodeName(copy.SourceDisk(locked)), 0777), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Directions, RefusedListing,
                         testing::Values(Direction::FtpToLocal, Direction::FtpToFtp),
                         [](const testing::TestParamInfo<Direction>& info) {
                             return info.param == Direction::FtpToLocal ? "FtpToLocal" : "FtpToFtp";
                         });

} // namespace
