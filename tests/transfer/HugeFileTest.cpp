#include <QFile>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
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
    ASSERT_TRUE(MakeSparse(env.Local("sparse.bin")));
    auto dlg = env.NewStatusWindow();
    BlockReport last;
    dlg->m_blockObserver = [&](const BlockReport& r) { last = r; };

    ASSERT_TRUE(dlg->CopyLocalToFtp(env.Local("sparse.bin"), "/huge.bin"));
    EXPECT_EQ(last.bytesCopied, "4294969000 of 4294969796");
    EXPECT_EQ(last.position, 100);
    ExpectSameFile(env.server.PathOf("huge.bin"));
    QFile::remove(env.Local("sparse.bin"));

    last = BlockReport{};
    ASSERT_TRUE(dlg->CopyFtpToLocal("/huge.bin", env.Local("back.bin")));
    EXPECT_EQ(last.bytesCopied, "4294969000 of 4294969796");
    ExpectSameFile(env.Local("back.bin"));
    EXPECT_EQ(env.boxes.Count(), 0);
    QFile::remove(env.Local("back.bin"));
    QFile::remove(env.server.PathOf("huge.bin"));
}

} // namespace
