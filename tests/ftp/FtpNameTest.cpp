// Names that are not UTF-8, on servers without UTF-8: shown in Windows-1252, and
// every command about them sends the server's own bytes back.
#include <QFile>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FtpTestUtil.h"

namespace {

class FtpNames : public ServerTest {
protected:
    void SetUp() override {
        // Only pyftpdlib reads it; vsftpd sends the bytes of its disk as they are.
        ::setenv("VELMAR_PYFTPD_RAW_NAMES", "1", 1);
        ServerTest::SetUp();
        ::unsetenv("VELMAR_PYFTPD_RAW_NAMES");
    }

    // The server's folder under a name given as bytes.
    std::string Raw(const std::string& relative) const {
        return QFile::encodeName(m_server->Root()).toStdString() + "/" + relative;
    }
    bool WriteRaw(const std::string& relative, const QByteArray& data) const {
        const int fd = ::open(Raw(relative).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (fd < 0)
            return false;
        const bool ok = ::write(fd, data.constData(), size_t(data.size())) == data.size();
        return ::close(fd) == 0 && ok && ::chmod(Raw(relative).c_str(), 0666) == 0;
    }
    bool MakeRawDir(const std::string& relative) const {
        return ::mkdir(Raw(relative).c_str(), 0777) == 0 &&
               ::chmod(Raw(relative).c_str(), 0777) == 0;
    }
    bool RawExists(const std::string& relative) const {
        struct stat st {};
        return ::lstat(Raw(relative).c_str(), &st) == 0;
    }
    // Entries of the server's folder, whatever bytes their names hold.
    int RawCount() const {
        DIR* dir = ::opendir(Raw("").c_str());
        int count = 0;
        while (dirent* d = dir ? ::readdir(dir) : nullptr)
            count += std::string_view(d->d_name) != "." && std::string_view(d->d_name) != "..";
        if (dir)
            ::closedir(dir);
        return count;
    }
    // vsftpd offers UTF8 in FEAT whatever bytes its names hold.
    bool OffersUtf8() const { return GetParam().kind == FtpServer::Kind::Vsftpd; }
    static QByteArray Download(CFtpConnection& c, const QString& path) {
        std::unique_ptr<CInternetFile> f(c.OpenFile(path));
        QByteArray got;
        char buffer[4096];
        for (unsigned n; (n = f->Read(buffer, sizeof buffer)) > 0;)
            got.append(buffer, n);
        f->Close();
        return got;
    }
};

const QString kCafe = QStringLiteral("caf\u00e9 \u20ac.txt"); // bytes "caf\xe9 \x80.txt"
const QString kFolder = QStringLiteral("d\u00e9j\u00e0");     // bytes "d\xe9j\xe0"

TEST_P(FtpNames, Latin1NameIsListedRenamedAndDownloadedUnderItsOwnBytes) {
    const QByteArray data = RandomBytes(7000, 3);
    ASSERT_TRUE(WriteRaw("caf\xe9 \x80.txt", data));
    ASSERT_TRUE(MakeRawDir("d\xe9j\xe0"));
    ASSERT_TRUE(WriteRaw("d\xe9j\xe0/inner \xfc.bin", "inner"));
    auto c = Connect();
    ASSERT_TRUE(c);
    const auto names = Names(List(*c, QStringLiteral("/*.*")));
    EXPECT_EQ(names, (std::set<QString>{kCafe, kFolder}));
    EXPECT_EQ(Download(*c, QLatin1Char('/') + kCafe), data);

    // Into the folder, by a relative and by an absolute path; PWD comes back shown
    // the same way and takes us back.
    ASSERT_TRUE(c->SetCurrentDirectory(QLatin1Char('/') + kFolder));
    QString here;
    ASSERT_TRUE(c->GetCurrentDirectory(here));
    EXPECT_EQ(here, QLatin1Char('/') + kFolder);
    EXPECT_EQ(Names(List(*c, QString())), (std::set<QString>{QStringLiteral("inner \u00fc.bin")}));
    EXPECT_EQ(Download(*c, QStringLiteral("inner \u00fc.bin")), QByteArray("inner"));
    ASSERT_TRUE(c->SetCurrentDirectory(here));

    // A new name goes in Windows-1252 too, unless the server says it takes UTF-8.
    ASSERT_TRUE(c->Rename(QLatin1Char('/') + kCafe, QStringLiteral("/na\u00efve.txt")));
    EXPECT_FALSE(RawExists("caf\xe9 \x80.txt"));
    EXPECT_TRUE(RawExists(OffersUtf8() ? "na\xc3\xafve.txt" : "na\xefve.txt"));
    EXPECT_EQ(Download(*c, QStringLiteral("/na\u00efve.txt")), data);
    ASSERT_TRUE(c->Rename(QStringLiteral("/na\u00efve.txt"), QLatin1Char('/') + kCafe));
    EXPECT_TRUE(RawExists("caf\xe9 \x80.txt"));

    // Found by its own entry, then deleted, folder and all.
    CFtpFileFind find(c.get());
    EXPECT_TRUE(find.FindFile(QLatin1Char('/') + kCafe));
    find.Close();
    EXPECT_TRUE(c->Remove(QLatin1Char('/') + kFolder + QStringLiteral("/inner \u00fc.bin")));
    EXPECT_TRUE(c->RemoveDirectory(QLatin1Char('/') + kFolder));
    EXPECT_FALSE(RawExists("d\xe9j\xe0"));
}

TEST_P(FtpNames, NameWithoutBytesOnTheServerIsRefusedWithItsReason) {
    if (OffersUtf8())
        GTEST_SKIP() << "every name has UTF-8 bytes";
    ASSERT_TRUE(WriteRaw("\xe9t\xe9.txt", "x"));
    auto c = Connect();
    ASSERT_TRUE(c);
    ASSERT_EQ(Names(List(*c, QStringLiteral("/*.*"))).size(), 1u);
    const QString names[] = {QStringLiteral("/\u65e5\u672c.txt"), QStringLiteral("/\u0394.bin")};
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        try {
            std::unique_ptr<CInternetFile> f(c->OpenFile(name, GENERIC_WRITE));
            ADD_FAILURE() << "the upload was not refused";
        } catch (const CInternetException& e) {
            EXPECT_TRUE(e.Message().contains(QStringLiteral("Windows-1252")))
                << e.Message().toStdString();
        }
        EXPECT_FALSE(c->CreateDirectory(name));
    }
    EXPECT_EQ(RawCount(), 1);
}

// A name learnt from one server never decides the bytes sent to another.
TEST_P(FtpNames, BytesOfOneServerNeverGoToAnother) {
    ASSERT_TRUE(WriteRaw("caf\xe9 \x80.txt", "latin"));
    auto c = Connect();
    ASSERT_TRUE(c);
    ASSERT_EQ(Names(List(*c, QStringLiteral("/*.*"))), (std::set<QString>{kCafe}));
    FtpServer other(FtpServer::Kind::Pyftpdlib);
    ASSERT_TRUE(other.IsRunning());
    std::unique_ptr<CFtpConnection> o(
        m_session.GetFtpConnection(other.Address(), other.User(), other.Password()));
    ASSERT_TRUE(o);
    std::unique_ptr<CInternetFile> f(o->OpenFile(QLatin1Char('/') + kCafe, GENERIC_WRITE));
    f->Write("utf8", 4);
    f->Close();
    EXPECT_EQ(other.ReadFile(kCafe), QByteArray("utf8")); // stored under its UTF-8 name
}

const ServerSetup kEightBitServers[] = {
    {FtpServer::Kind::Vsftpd, false, "vsftpd"},
    {FtpServer::Kind::Pyftpdlib, false, "pyftpdlib_mlsd"},
    {FtpServer::Kind::Pyftpdlib, true, "pyftpdlib_list"},
};

INSTANTIATE_TEST_SUITE_P(Servers, FtpNames, testing::ValuesIn(kEightBitServers), SetupName);

} // namespace
