#include <QFile>
#include "Await.h"
#include <QStringList>
#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "TransferFixture.h"

namespace {

constexpr std::uint64_t kSize = (std::uint64_t(1) << 32) + 2500; // past 32 bits
const std::pair<std::uint64_t, QByteArray> kMarkers[] = {
    {0, "start of the file"},
    {(std::uint64_t(1) << 32) - 7, "across the 4 GiB line"},
    {kSize - 12, "end of file!"},
};

bool MakeSparse(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    bool ok = ::ftruncate(fd, off_t(kSize)) == 0;
    for (const auto& [offset, text] : kMarkers)
        ok = ok && ::pwrite(fd, text.constData(), text.size(), off_t(offset)) == text.size();
    return ::close(fd) == 0 && ok;
}

// Free bytes on the file system that holds path.
std::uint64_t FreeBytes(const QString& path) {
    struct statvfs vfs {};
    if (::statvfs(QFile::encodeName(path).constData(), &vfs) != 0)
        return 0;
    return std::uint64_t(vfs.f_bavail) * vfs.f_frsize;
}

QString Told(const MessageBoxRecorder& boxes) {
    QStringList told;
    for (const auto& call : boxes.Calls())
        told << call.caption + QStringLiteral(": ") + call.text;
    return told.join(QStringLiteral(" | "));
}

void ExpectSameFile(const QString& path) {
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
    EXPECT_EQ(std::uint64_t(st.st_size), kSize);
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    ASSERT_GE(fd, 0);
    for (const auto& [offset, text] : kMarkers) {
        QByteArray read(text.size(), 0);
        EXPECT_EQ(::pread(fd, read.data(), read.size(), off_t(offset)), text.size());
        EXPECT_EQ(read, text) << offset;
    }
    ::close(fd);
}

// Up and down again through vsftpd; a 32-bit length anywhere would cut the file.
TEST(HugeFile, OverFourGibibytesCopiesWholeBothWays) {
    TransferEnv env(FtpServer::Kind::Vsftpd);
    ASSERT_TRUE(env.server.IsRunning()) << env.server.Error().toStdString();
    ASSERT_TRUE(env.Connect());
    // The server writes the upload out in full, and the download is a second
    // full copy beside it: a machine without that room cannot run this test.
    const std::uint64_t room = std::min(FreeBytes(env.server.Root()), FreeBytes(env.Local("")));
    if (room < 2 * kSize + (std::uint64_t(1) << 30))
        GTEST_SKIP() << "only " << room / (1 << 20) << " MiB free; the test needs "
                     << (2 * kSize) / (1 << 20) << " MiB and a margin";
    ASSERT_TRUE(MakeSparse(env.Local("sparse.bin")));
    auto dlg = env.NewStatusWindow();
    BlockReport last;
    dlg->m_blockObserver = [&](const BlockReport& r) { last = r; };

    ASSERT_TRUE(Await(dlg->CopyLocalToFtp(env.Local("sparse.bin"), "/huge.bin")))
        << Told(env.boxes).toStdString();
    EXPECT_EQ(last.bytesCopied, "4294969000 of 4294969796");
    EXPECT_EQ(last.position, 100);
    ExpectSameFile(env.server.PathOf("huge.bin"));
    QFile::remove(env.Local("sparse.bin"));

    last = BlockReport{};
    ASSERT_TRUE(Await(dlg->CopyFtpToLocal("/huge.bin", env.Local("back.bin"))))
        << Told(env.boxes).toStdString();
    EXPECT_EQ(last.bytesCopied, "4294969000 of 4294969796");
    ExpectSameFile(env.Local("back.bin"));
    EXPECT_EQ(env.boxes.Count(), 0);
    QFile::remove(env.Local("back.bin"));
    QFile::remove(env.server.PathOf("huge.bin"));
}

} // namespace
