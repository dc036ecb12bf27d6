// Links on the server side, against every server: what a listing shows of a link
// to a folder, to a file and to nothing, and that finding out never moves the
// connection's working folder.
#include <QFile>
#include <unistd.h>

#include "FtpTestUtil.h"

namespace {

class FtpLinks : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(m_server->MakeDir(QStringLiteral("sub")));
        ASSERT_TRUE(m_server->WriteFile(QStringLiteral("sub/inner.txt"), "inner"));
        ASSERT_TRUE(m_server->WriteFile(QStringLiteral("file.bin"), m_data));
        // Relative targets: the servers show their users a folder of their own.
        ASSERT_TRUE(Link(QStringLiteral("link-to-dir"), QStringLiteral("sub")));
        ASSERT_TRUE(Link(QStringLiteral("link-to-file"), QStringLiteral("file.bin")));
        ASSERT_TRUE(Link(QStringLiteral("dangling"), QStringLiteral("nowhere")));
        ASSERT_TRUE(Link(QStringLiteral("sub/up"), QStringLiteral("..")));
    }

    bool Link(const QString& at, const QString& target) {
        return ::symlink(QFile::encodeName(target).constData(),
                         QFile::encodeName(m_server->PathOf(at)).constData()) == 0;
    }

    static const FtpListEntry* Find(const std::vector<FtpListEntry>& entries, const char* name) {
        for (const FtpListEntry& e : entries)
            if (e.name == QLatin1String(name))
                return &e;
        return nullptr;
    }

    bool MlsdFollowsLinks() const {
        return (GetParam().kind == FtpServer::Kind::Pyftpdlib && !GetParam().noMlsd) ||
               GetParam().kind == FtpServer::Kind::Proftpd;
    }

    QByteArray m_data = RandomBytes(1234, 17);
};

TEST_P(FtpLinks, ListingTellsWhatEachLinkPointsTo) {
    auto c = Connect();
    ASSERT_TRUE(c->SetCurrentDirectory(QStringLiteral("/sub")));
    struct Case {
        const char* pattern; // listed from /sub, by a relative and an absolute path
        const char* name;
        bool folder;
        std::uint64_t size; // checked for files only
    };
    const Case cases[] = {
        {"../*.*", "link-to-dir", true, 0},    {"/*.*", "link-to-dir", true, 0},
        {"/*.*", "link-to-file", false, 1234}, {"../*.*", "link-to-file", false, 1234},
        {"/*.*", "dangling", false, 0},        {"*.*", "up", true, 0},
        {"/*.*", "file.bin", false, 1234},     {"/*.*", "sub", true, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.pattern) + " " + k.name);
        CFtpFileFind find(c.get());
        find.FindFile(QString::fromLatin1(k.pattern));
        ASSERT_FALSE(find.Failed()) << find.ErrorText().toStdString();
        const FtpListEntry* e = Find(find.Entries(), k.name);
        // Servers that answer MLSD through links cannot show one that leads nowhere.
        if (!e && std::string_view(k.name) == "dangling" && MlsdFollowsLinks())
            continue;
        ASSERT_NE(e, nullptr);
        const bool link =
            std::string_view(k.name) != "file.bin" && std::string_view(k.name) != "sub";
        EXPECT_EQ(e->isLink, link);
        EXPECT_EQ(e->isFolder, k.folder);
        if (!k.folder) {
            EXPECT_EQ(e->size, k.size);
        }
        // The probes behind this listing left the working folder where it was.
        QString here;
        ASSERT_TRUE(c->GetCurrentDirectory(here));
        EXPECT_EQ(here, QStringLiteral("/sub"));
    }
}

TEST_P(FtpLinks, WalksByTheDirectoryTestNeverEnterALink) {
    auto c = Connect();
    CFtpFileFind find(c.get());
    bool more = find.FindFile(QStringLiteral("/*.*"));
    std::set<QString> links;
    while (more) {
        more = find.FindNextFile();
        if (find.IsLink()) {
            links.insert(find.GetFileName());
            EXPECT_FALSE(find.IsDirectory()) << find.GetFileName().toStdString();
        }
    }
    EXPECT_TRUE(links.count(QStringLiteral("link-to-dir")));
    EXPECT_TRUE(links.count(QStringLiteral("link-to-file")));
}

TEST_P(FtpLinks, OwnEntryOfALinkTellsItsTarget) {
    auto c = Connect();
    const struct {
        const char* path;
        bool folder;
    } cases[] = {{"/link-to-dir", true}, {"/link-to-file", false}, {"/sub/up", true}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.path);
        CFtpFileFind find(c.get());
        ASSERT_TRUE(find.FindFile(QString::fromLatin1(k.path)));
        ASSERT_EQ(find.Entries().size(), 1u);
        // A link to a folder must be known as a link, or a delete of it would
        // empty the folder it points to. (MLST of a link to a file may show
        // the file itself on some servers, which is harmless.)
        EXPECT_EQ(find.Entries()[0].isFolder, k.folder);
        if (k.folder || !MlsdFollowsLinks()) {
            EXPECT_TRUE(find.Entries()[0].isLink);
        }
        if (!k.folder && GetParam().kind != FtpServer::Kind::Proftpd) {
            EXPECT_EQ(find.Entries()[0].size, 1234u);
        }
    }
}

TEST_P(FtpLinks, LinkToAFolderOpensAndLinkToAFileDownloadsTheTarget) {
    auto c = Connect();
    const auto inside = Names(List(*c, QStringLiteral("/link-to-dir/*.*")));
    EXPECT_EQ(inside, (std::set<QString>{QStringLiteral("inner.txt"), QStringLiteral("up")}));
    ASSERT_TRUE(c->SetCurrentDirectory(QStringLiteral("/link-to-dir")));
    EXPECT_TRUE(Names(List(*c, QString())).count(QStringLiteral("inner.txt")));
    std::unique_ptr<CInternetFile> f(c->OpenFile(QStringLiteral("/link-to-file")));
    QByteArray got;
    char buffer[512];
    for (unsigned n; (n = f->Read(buffer, sizeof buffer)) > 0;)
        got.append(buffer, n);
    f->Close();
    EXPECT_EQ(got, m_data);
}

// The probes are bounded per listing: a folder of many links costs at most 200
// of them, and the links past that stay files.
TEST_P(FtpLinks, AListingProbesAtMostTwoHundredLinks) {
    ASSERT_TRUE(m_server->MakeDir(QStringLiteral("many")));
    for (int i = 0; i < 210; ++i)
        ASSERT_TRUE(Link(QStringLiteral("many/l%1").arg(i), QStringLiteral("../sub")));
    auto c = Connect();
    CFtpFileFind find(c.get());
    ASSERT_TRUE(find.FindFile(QStringLiteral("/many/*.*")));
    int folders = 0, links = 0;
    for (const FtpListEntry& e : find.Entries()) {
        links += e.isLink;
        folders += e.isFolder;
    }
    EXPECT_EQ(links, 210);
    // pyftpdlib's MLSD tells what every link points to; no probe is needed there.
    const bool told = GetParam().kind == FtpServer::Kind::Pyftpdlib && !GetParam().noMlsd;
    EXPECT_EQ(folders, told ? 210 : 200);
}

const ServerSetup kLinkServers[] = {
    {FtpServer::Kind::Vsftpd, false, "vsftpd"},
    {FtpServer::Kind::Pyftpdlib, false, "pyftpdlib_mlsd"},
    {FtpServer::Kind::Pyftpdlib, true, "pyftpdlib_list"},
    {FtpServer::Kind::PureFtpd, false, "pureftpd"},
    {FtpServer::Kind::Proftpd, false, "proftpd"},
};

INSTANTIATE_TEST_SUITE_P(Servers, FtpLinks, testing::ValuesIn(kLinkServers), SetupName);

} // namespace
