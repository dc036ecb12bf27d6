// A session of an SFTP site dropped in the middle of a file, through the copy
// engine: the copy reconnects and goes on from the offset of its part, and only
// a whole file takes the target's name; a server that stays away after the drop
// ends the copy with its message, the old file and the source as they were.
#include <QCryptographicHash>
#include <QDir>
#include <functional>
#include <map>
#include <tuple>

#include "Await.h"
#include "FtpSite.h"
#include "Job.h"
#include "SftpTestUtil.h"
#include "Transfer.h"

namespace {

using Kind = core::TransferError::Kind;

class ResumeView : public core::TransferView {
public:
    void ShowLine(core::StatusLine, const QString& text) override {
        if (!text.startsWith(QStringLiteral("Reconnecting (")))
            return;
        reconnects.push_back(text);
        if (onReconnect)
            onReconnect();
    }
    void ShowStatus(const QString&) override {}
    void ShowConnectStep(const QString&) override {}
    void ShowProgress(int) override {}
    void RevealTransferControls() override {}
    void Failed(const core::TransferError& error) override { errors.push_back(error); }
    CertificateAnswer AskAboutCertificate(const CertificateVerdict&) override {
        return CertificateAnswer::Cancel;
    }
    CertificateAnswer AskAboutHostKey(const core::HostKeyInfo&) override {
        return CertificateAnswer::AcceptOnce;
    }
    bool ShowsProgress() const override { return true; }
    bool StartingUp() const override { return false; }

    std::function<void()> onReconnect;
    QStringList reconnects;
    std::vector<core::TransferError> errors;
};

QByteArray Hash(const QByteArray& data) {
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256);
}

// Each file of a folder by name, with the hash of its bytes.
std::map<QString, QByteArray> Files(const QString& folder) {
    std::map<QString, QByteArray> files;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
        files[name] = Hash(Get(folder + QLatin1Char('/') + name));
    return files;
}

// The file is large beside the up to 2 MiB of reads in flight: what the server
// had answered but not yet sent when it cut the session is sent again, and a
// slow client (a sanitized build) lets that queue fill.
constexpr long long kDropAt = 6 << 20;
constexpr int kSize = 24 * (1 << 20) + 777;

// Where the copy goes: a file or a folder, between this machine and the site or
// on the site itself.
enum class Way { Down, Up, Across, FolderDown, FolderUp };
struct Row {
    const char* name;
    Way way;
    bool over;  // an old file holds the target's name
    int awayMs; // the server takes no connection for this long after the drop;
                // -1: for good
};

bool FromLocal(Way way) {
    return way == Way::Up || way == Way::FolderUp;
}
bool ToLocal(Way way) {
    return way == Way::Down || way == Way::FolderDown;
}
bool OfFolder(Way way) {
    return way == Way::FolderDown || way == Way::FolderUp;
}

TEST(SftpResumeTest, ADroppedSessionGoesOnFromThePartOrGivesUpLeavingTheOldFile) {
    QByteArray data(kSize, Qt::Uninitialized);
    for (int i = 0; i < kSize; ++i)
        data[i] = char((unsigned(i) * 2654435761u) >> 13);
    const Row rows[] = {{"down over", Way::Down, true, 0},
                        {"up", Way::Up, false, 0},
                        {"up over", Way::Up, true, 0},
                        {"across over", Way::Across, true, 0},
                        {"folder down", Way::FolderDown, false, 0},
                        {"folder up", Way::FolderUp, false, 0},
                        {"down back at the 2nd try", Way::Down, true, 2500},
                        {"up back at the 2nd try", Way::Up, true, 2500},
                        {"up away", Way::Up, true, -1},
                        {"down away", Way::Down, true, -1}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SshServer::Options options;
        options.dropAfter = kDropAt;
        options.dropOnce = true;
        if (row.awayMs != 0)
            options.awayAfterDropMs = row.awayMs;
        SshServer server(SshServer::Kind::AsyncSsh, options);
        ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
        QTemporaryDir home;
        QTemporaryDir local;
        core::FtpSite site;
        site.SetProfile(PasswordProfile(server, home));
        ResumeView view;
        std::atomic<int> cancel{0};
        core::Transfer transfer{&site, view, cancel};
        auto run = [&](const std::function<bool()>& body) {
            return AwaitJob(body, &cancel);
        };
        ASSERT_TRUE(run([&] { return transfer.Connect(); }));

        // The source is tree/src.bin (with a small file beside it for a folder);
        // the target dest.bin, or the folder tree.
        const QString sourceRoot = FromLocal(row.way) ? local.path() : server.LocalRoot();
        const QString targetRoot = ToLocal(row.way) ? local.path() : server.LocalRoot();
        const QString sourceFolder = sourceRoot + QStringLiteral("/tree");
        ASSERT_TRUE(QDir().mkpath(sourceFolder));
        Put(sourceFolder + QStringLiteral("/src.bin"), data);
        if (OfFolder(row.way))
            Put(sourceFolder + QStringLiteral("/small.txt"), "small");
        if (row.over)
            Put(targetRoot + QStringLiteral("/dest.bin"), "old");
        const auto sourceBefore = Files(sourceFolder);
        const auto targetBefore = Files(targetRoot);
        // Whenever the copy is away from the server, the target is as it was.
        const QByteArray old = row.over ? QByteArray("old") : QByteArray("<missing>");
        int oldIntact = 0;
        view.onReconnect = [&] { oldIntact += Get(targetRoot + "/dest.bin") == old; };

        const bool copied = run([&] {
            switch (row.way) {
            case Way::Down:
                return transfer.CopyFtpToLocal("/tree/src.bin", local.filePath("dest.bin"));
            case Way::Up:
                return transfer.CopyLocalToFtp(local.filePath("tree/src.bin"), "/dest.bin");
            case Way::Across:
                return transfer.CopyFtpToFtp("/tree/src.bin", "/dest.bin");
            case Way::FolderDown:
                return transfer.CopyFolderFtpToLocal("/tree", local.filePath("copy"));
            case Way::FolderUp:
                return transfer.CopyFolderLocalToFtp(local.filePath("tree"), "/copy");
            }
            return false;
        });
        site.Close();
        EXPECT_EQ(oldIntact, int(view.reconnects.size()));
        EXPECT_EQ(Files(sourceFolder), sourceBefore);
        if (row.awayMs < 0) {
            EXPECT_FALSE(copied);
            EXPECT_EQ(view.reconnects.join(','),
                      QStringLiteral("Reconnecting (1 of 5),Reconnecting (2 of 5),Reconnecting (3 "
                                     "of 5),Reconnecting (4 of 5),Reconnecting (5 of 5)"));
            ASSERT_GE(view.errors.size(), 1u);
            EXPECT_EQ(view.errors[0].kind, Kind::ResumeGaveUp);
            EXPECT_TRUE(view.errors[0].detail.startsWith("The connection broke 6 times"))
                << view.errors[0].detail.toStdString();
            auto targetAfter = Files(targetRoot);
            // The server's part cannot be removed while it is away: it is named.
            if (!ToLocal(row.way)) {
                ASSERT_EQ(view.errors.size(), 2u);
                EXPECT_EQ(view.errors[1].kind, Kind::PartialLeft);
                EXPECT_EQ(targetAfter.erase(view.errors[1].path.mid(1)), 1u);
            } else {
                EXPECT_EQ(view.errors.size(), 1u);
            }
            EXPECT_EQ(targetAfter, targetBefore);
            continue;
        }
        EXPECT_TRUE(copied) << (view.errors.empty() ? "" : view.errors[0].detail.toStdString());
        EXPECT_TRUE(view.errors.empty());
        // A server away for a while takes the second try, or a later one on a slow machine.
        EXPECT_GE(int(view.reconnects.size()), row.awayMs > 0 ? 2 : 1);
        EXPECT_LE(int(view.reconnects.size()), row.awayMs > 0 ? 5 : 1);
        // Whole, and no part left beside it.
        if (OfFolder(row.way)) {
            EXPECT_EQ(Files(targetRoot + QStringLiteral("/copy")), sourceBefore);
            EXPECT_EQ(Files(targetRoot), targetBefore);
        } else {
            auto expected = targetBefore;
            expected[QStringLiteral("dest.bin")] = Hash(data);
            EXPECT_EQ(Files(targetRoot), expected);
        }
        // Resumed, not started over: little more than the file crossed.
        const SshServer::Moved moved = server.FileBytesMoved();
        // Within the site, what was read for the side that broke and not yet
        // written is read again, as on FTP: the reads get more room, the writes none.
        const long long readRoom = row.way == Way::Across ? 16 : 11;
        for (const auto& [bytes, used, room] :
             {std::tuple{moved.read, !FromLocal(row.way), readRoom},
              std::tuple{moved.written, !ToLocal(row.way), 11LL}}) {
            EXPECT_GE(bytes, used ? kSize : 0);
            EXPECT_LT(bytes, used ? kSize * room / 10 : 1);
        }
    }
}

} // namespace
