// The copy engine with no window at all: what a view hears from it, on which
// thread, and which typed error each failure turns into, against a real server.
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string_view>
#include <vector>

#include "Await.h"
#include "FtpServer.h"
#include "FtpSite.h"
#include "Job.h"
#include "TempJournal.h"
#include "Transfer.h"

namespace {

using Kind = core::TransferError::Kind;

// Keeps what the engine shows, and whether each call came on the interface thread.
class RecordingView : public core::TransferView {
public:
    void ShowLine(core::StatusLine line, const QString& text) override {
        Note();
        lines.emplace_back(line, text);
        if (onLine)
            onLine(text);
    }
    void ShowStatus(const QString& text) override {
        Note();
        status.push_back(text);
    }
    void ShowConnectStep(const QString& text) override {
        Note();
        status.push_back(text);
    }
    void ShowProgress(int position) override {
        Note();
        lastPosition = position;
    }
    void RevealTransferControls() override { Note(); }
    void Failed(const core::TransferError& error) override {
        Note();
        errors.push_back(error);
    }
    CertificateAnswer AskAboutCertificate(const CertificateVerdict&) override {
        Note();
        return CertificateAnswer::Cancel;
    }
    bool ShowsProgress() const override { return true; }
    bool StartingUp() const override { return false; }
    bool WatchesBlocks() const override { return true; }
    void BlockFinished(const BlockReport& report) override { blocks = report.blockIndex + 1; }

    QString Line(core::StatusLine wanted) const {
        QString last;
        for (const auto& [line, text] : lines)
            if (line == wanted)
                last = text;
        return last;
    }

    std::vector<std::pair<core::StatusLine, QString>> lines;
    std::function<void(const QString&)> onLine;
    std::vector<QString> status;
    std::vector<core::TransferError> errors;
    int lastPosition = -1;
    std::uint64_t blocks = 0;
    int offThread = 0;

private:
    void Note() {
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            ++offThread;
    }
};

class TransferTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
        ASSERT_TRUE(local.isValid());
        CProfile profile;
        profile.m_name = QStringLiteral("test");
        profile.m_address = server.Address();
        profile.m_userId = server.User();
        profile.m_password = server.Password();
        site.SetProfile(profile);
        ASSERT_TRUE(Run([&] { return transfer.Connect(); }));
        ASSERT_TRUE(view.errors.empty());
    }
    void TearDown() override {
        EXPECT_EQ(view.offThread, 0) << "the view was called off the interface thread";
        site.Close();
    }

    // As the status window runs it: a job on a worker thread.
    bool Run(const std::function<bool()>& body) {
        return AwaitJob(body, &cancel);
    }
    QString Local(const QString& name) const { return local.filePath(name); }
    static bool Write(const QString& path, const QByteArray& data) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
    }
    static QByteArray Read(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    FtpServer server{FtpServer::Kind::Pyftpdlib};
    QTemporaryDir local;
    core::FtpSite site;
    RecordingView view;
    std::atomic<int> cancel{0};
    core::Transfer transfer{&site, view, cancel};
};

TEST_F(TransferTest, RoundTripIsShownToTheViewOnItsThread) {
    QByteArray data(2500 * 1000 + 17, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = char(i * 7 + i / 1000);
    ASSERT_TRUE(Write(Local("up.bin"), data));

    ASSERT_TRUE(Run([&] { return transfer.CopyLocalToFtp(Local("up.bin"), "/up.bin"); }));
    EXPECT_EQ(server.ReadFile("up.bin"), data);
    EXPECT_EQ(view.Line(core::StatusLine::From), Local("up.bin"));
    EXPECT_EQ(view.Line(core::StatusLine::To), QStringLiteral("test:/up.bin"));
    EXPECT_EQ(view.blocks, 2500u); // whole blocks; the 17 bytes make no block
    ASSERT_FALSE(view.status.empty());
    EXPECT_EQ(view.status.back(), QStringLiteral("Ready"));

    ASSERT_TRUE(Run([&] { return transfer.CopyFtpToLocal("/up.bin", Local("down.bin")); }));
    EXPECT_EQ(Read(Local("down.bin")), data);
    EXPECT_EQ(view.Line(core::StatusLine::Copied), QStringLiteral("2500000 of 2500017"));
    EXPECT_TRUE(view.errors.empty());
}

// Each failure reaches the view as its own kind, with the folder it concerns,
// and leaves what was there before as it was.
TEST_F(TransferTest, FailuresArriveAsTypedErrors) {
    ASSERT_TRUE(Write(Local("keep.txt"), "local data"));
    ASSERT_TRUE(server.MakeDir("tree"));
    ASSERT_TRUE(server.WriteFile("tree/a.txt", "a"));
    ASSERT_TRUE(QDir(local.path()).mkpath("folder/inner"));
    struct Case {
        const char* name;
        std::function<bool()> run;
        Kind kind;
        QString path;
    };
    const std::vector<Case> cases = {
        {"download of a missing file over a local one",
         [&] { return transfer.CopyFtpToLocal("/missing.txt", Local("keep.txt")); },
         Kind::CopyFile,
         {}},
        {"upload into a missing folder",
         [&] { return transfer.CopyLocalToFtp(Local("keep.txt"), "/nowhere/keep.txt"); },
         Kind::CopyFile,
         {}},
        {"folder copy of a missing folder",
         [&] { return transfer.CopyFolderFtpToLocal("/gone", Local("gone")); },
         Kind::FolderUnreadable, QStringLiteral("/gone")},
        {"FTP folder into itself",
         [&] { return transfer.CopyFolderFtpToFtp("/tree", "/tree/copy"); }, Kind::SameFolder,
         QStringLiteral("/tree/copy")},
        {"folder onto an existing local folder",
         [&] { return transfer.CopyFolderFtpToLocal("/tree", Local("folder")); },
         Kind::CreateFolder,
         {}},
        {"local copy of a missing file",
         [&] { return transfer.CopyLocalToLocal(Local("none"), Local("keep.txt")); },
         Kind::CopyFile,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        view.errors.clear();
        EXPECT_FALSE(Run(c.run));
        ASSERT_EQ(view.errors.size(), 1u);
        EXPECT_EQ(view.errors[0].kind, c.kind);
        if (!c.path.isEmpty()) {
            EXPECT_EQ(view.errors[0].path, c.path);
        }
        EXPECT_EQ(Read(Local("keep.txt")), QByteArray("local data"));
        EXPECT_EQ(server.ReadFile("tree/a.txt"), QByteArray("a"));
    }
    EXPECT_FALSE(QFile::exists(Local("gone")));
    EXPECT_TRUE(QDir(Local("folder/inner")).exists());
}

// The server's words travel with the error, for a view that wants them.
TEST_F(TransferTest, CopyErrorCarriesTheServersWords) {
    EXPECT_FALSE(Run([&] { return transfer.CopyFtpToLocal("/missing.txt", Local("new.txt")); }));
    ASSERT_EQ(view.errors.size(), 1u);
    EXPECT_EQ(view.errors[0].kind, Kind::CopyFile);
    EXPECT_FALSE(view.errors[0].detail.isEmpty());
    EXPECT_FALSE(QFile::exists(Local("new.txt")));
}

// A stop requested before the copy starts is told once, as a cancel, and
// nothing is made on either side.
TEST_F(TransferTest, CancelIsToldOnceAndMakesNothing) {
    ASSERT_TRUE(Write(Local("file.txt"), QByteArray(5000, 'x')));
    ASSERT_TRUE(server.WriteFile("remote.txt", QByteArray(5000, 'y')));
    cancel = 1;
    EXPECT_FALSE(Run([&] { return transfer.CopyLocalToFtp(Local("file.txt"), "/file.txt"); }));
    EXPECT_FALSE(Run([&] { return transfer.CopyFtpToLocal("/remote.txt", Local("remote.txt")); }));
    cancel = 0;
    ASSERT_EQ(view.errors.size(), 2u);
    EXPECT_EQ(view.errors[0].kind, Kind::Cancelled);
    EXPECT_EQ(view.errors[1].kind, Kind::Cancelled);
    EXPECT_FALSE(QFile::exists(server.PathOf("file.txt")));
    EXPECT_FALSE(QFile::exists(Local("remote.txt")));
    EXPECT_EQ(server.ReadFile("remote.txt"), QByteArray(5000, 'y'));
}

// A session dropped in the middle of a file: the copy goes on by itself, from
// where it was where the server allows REST, from the start where it does not,
// and ends byte-identical.
class ResumeFixture : public testing::Test {
protected:
    bool Start(int dropAt, bool noRest, const QString& dropIn = {}) {
        site.Close();
        QFile::remove(LogPath());
        FtpServer::Options options;
        options.dropAt = dropAt;
        options.dropIn = dropIn;
        options.noRest = noRest;
        options.transferLog = LogPath();
        server = std::make_unique<FtpServer>(FtpServer::Kind::Pyftpdlib, options);
        if (!server->IsRunning())
            return false;
        CProfile profile;
        profile.m_name = QStringLiteral("test");
        profile.m_address = server->Address();
        profile.m_userId = server->User();
        profile.m_password = server->Password();
        site.SetProfile(profile);
        return Run([&] { return transfer.Connect(); });
    }
    void TearDown() override { site.Close(); }
    bool Run(const std::function<bool()>& body) {
        return AwaitJob(body, &cancel);
    }
    QString LogPath() const { return local.filePath(QStringLiteral("server.log")); }
    QString OnServer(const QString& name) const { return server->Root() + QLatin1Char('/') + name; }
    // The bytes the server's data connections moved, by verb.
    qint64 Moved(const QByteArray& verb) const {
        QFile log(LogPath());
        qint64 total = 0;
        if (log.open(QIODevice::ReadOnly))
            for (const QByteArray& line : log.readAll().split('\n'))
                if (line.startsWith(verb + ' '))
                    total += line.mid(verb.size() + 1).toLongLong();
        return total;
    }

    QTemporaryDir local;
    std::unique_ptr<FtpServer> server;
    core::FtpSite site;
    RecordingView view;
    std::atomic<int> cancel{0};
    core::Transfer transfer{&site, view, cancel};
};

class ResumeTest : public ResumeFixture, public testing::WithParamInterface<bool> {};

TEST_P(ResumeTest, ADroppedSessionIsResumedByItselfInBothDirections) {
    const bool rest = GetParam();
    constexpr int kSize = 3 * 1024 * 1024 + 777;
    ASSERT_TRUE(Start(kSize / 2, !rest));
    QByteArray data(kSize, Qt::Uninitialized);
    for (int i = 0; i < kSize; ++i)
        data[i] = char((unsigned(i) * 7919u) >> 3);
    {
        QFile source(local.filePath(QStringLiteral("up.bin")));
        ASSERT_TRUE(source.open(QIODevice::WriteOnly));
        ASSERT_EQ(source.write(data), kSize);
    }
    // An old file of the same name stays whole until the new one is.
    QFile old(OnServer(QStringLiteral("up.bin")));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    old.close();
    ASSERT_TRUE(Run([&] { return transfer.CopyLocalToFtp(local.filePath("up.bin"), "/up.bin"); }))
        << (view.errors.empty() ? "" : view.errors.front().detail.toStdString());
    ASSERT_TRUE(Run([&] { return transfer.CopyFtpToLocal("/up.bin", local.filePath("down.bin")); }))
        << (view.errors.empty() ? "" : view.errors.front().detail.toStdString());
    EXPECT_TRUE(view.errors.empty());
    for (const QString& path : {OnServer("up.bin"), local.filePath("down.bin")}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
        EXPECT_TRUE(file.readAll() == data) << path.toStdString();
    }
    EXPECT_EQ(QDir(server->Root()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    EXPECT_EQ(view.Line(core::StatusLine::Activity), QStringLiteral("Transferring Data"));
    bool reconnecting = false;
    for (const auto& [line, text] : view.lines)
        reconnecting |= text == QStringLiteral("Reconnecting (1 of 5)");
    EXPECT_TRUE(reconnecting);
    // Resumed, a file moves little more than once; started over, once and a half.
    const qint64 limit = rest ? kSize * 11 / 10 : kSize * 16 / 10;
    EXPECT_LT(Moved("STOR"), limit);
    EXPECT_LT(Moved("RETR"), limit);
    EXPECT_GE(Moved("RETR"), kSize);
}

INSTANTIATE_TEST_SUITE_P(Rest, ResumeTest, testing::Bool(),
                         [](const auto& info) { return info.param ? "rest" : "no_rest"; });

// Each file of a folder by name, with the hash of its bytes.
QMap<QString, QByteArray> Tree(const QString& root) {
    QMap<QString, QByteArray> tree;
    for (const QString& name : QDir(root).entryList(QDir::Files | QDir::Hidden)) {
        QFile file(root + QLatin1Char('/') + name);
        tree[name] = file.open(QIODevice::ReadOnly)
                         ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
                         : QByteArray("unreadable");
    }
    return tree;
}

// A copy from one place on the server to another whose source (RETR) or
// destination (STOR) session drops goes on from where the destination's part
// ends; where the server stays away, the copy gives up, and the part it could
// not remove is named and stays in the journal for the next login.
TEST_F(ResumeFixture, AServerCopyResumesWhicheverSideDropsAndAGiveUpNamesItsPart) {
    constexpr int kSize = 3 * 1024 * 1024 + 777;
    QByteArray data(kSize, Qt::Uninitialized);
    for (int i = 0; i < kSize; ++i)
        data[i] = char((unsigned(i) * 40503u) >> 5);
    // The server is killed at the first reconnect, and back at the second
    // (Brief) or never (ForGood).
    enum class Away { No, Brief, ForGood };
    struct Case {
        const char* dropIn;
        Away away;
    } cases[] = {
        {"RETR", Away::No}, {"STOR", Away::No}, {"STOR", Away::Brief}, {"STOR", Away::ForGood}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.dropIn) + " away " + std::to_string(int(c.away)));
        ASSERT_TRUE(Start(kSize / 2, false, QString::fromLatin1(c.dropIn)));
        ASSERT_TRUE(server->WriteFile("src.bin", data));
        ASSERT_TRUE(server->WriteFile("copy.bin", "old"));
        const auto before = Tree(server->Root());
        view.errors.clear();
        view.lines.clear();
        view.onLine = [&](const QString& text) {
            if (c.away != Away::No && text == QStringLiteral("Reconnecting (1 of 5)"))
                server->Kill();
            if (c.away == Away::Brief && text == QStringLiteral("Reconnecting (2 of 5)"))
                server->Restart();
        };
        const bool copied = Run([&] { return transfer.CopyFtpToFtp("/src.bin", "/copy.bin"); });
        view.onLine = nullptr;
        auto after = Tree(server->Root());
        if (c.away == Away::ForGood) {
            EXPECT_FALSE(copied);
            ASSERT_EQ(view.errors.size(), 2u);
            EXPECT_EQ(view.errors[0].kind, Kind::ResumeGaveUp);
            EXPECT_EQ(view.errors[1].kind, Kind::PartialLeft);
            const QString part = view.errors[1].path;
            EXPECT_EQ(after.remove(part.mid(1)), 1) << part.toStdString();
            EXPECT_EQ(after, before); // the old file and the source as they were
            bool journalled = false;
            for (const auto& entry : tempjournal::Journal().Entries())
                journalled |= entry.path == part;
            EXPECT_TRUE(journalled);
            continue;
        }
        EXPECT_TRUE(copied) << (view.errors.empty() ? "" : view.errors[0].detail.toStdString());
        EXPECT_TRUE(view.errors.empty());
        const QByteArray whole = QCryptographicHash::hash(data, QCryptographicHash::Sha256);
        EXPECT_EQ(after, (QMap<QString, QByteArray>{{"copy.bin", whole}, {"src.bin", whole}}));
        bool reconnecting = false;
        for (const auto& [line, text] : view.lines)
            reconnecting |= text == QStringLiteral("Reconnecting (1 of 5)");
        EXPECT_TRUE(reconnecting);
        if (c.away == Away::Brief)
            continue; // the server back drops again: the bytes add up differently
        EXPECT_LT(Moved("STOR"), kSize * 11 / 10);
        // Where the destination broke, what the source had in flight is read again.
        EXPECT_LT(Moved("RETR"),
                  std::string_view(c.dropIn) == "RETR" ? kSize * 11 / 10 : kSize * 16 / 10);
    }
}

} // namespace
