// Passwords in the desktop keyring, against a real gnome-keyring-daemon on a
// session bus of the test's own (keyring_session.sh). Each suite runs in a
// process of its own: Keyring with the keyring unlocked, KeyringLocked and
// KeyringStalled with it locked or stopped, KeyringAbsent with none at all.
#include <QCheckBox>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QSet>
#include <csignal>
#include <gtest/gtest.h>

#include "FtpConnection.h"
#include "FtpServer.h"
#include "InternetSession.h"
#include "MessageBoxRecorder.h"
#include "OptionsDlg.h"
#include "PasswordVault.h"
#include "ProfileFile.h"
#include "ProfilePasswords.h"
#include "ProfileTestUtil.h"
#include "ProfilesDlg.h"
#include "Registry.h"

namespace {
const QString kCaption = QStringLiteral("Desktop Keyring");

QString Tool(const QStringList& args) {
    QProcess p;
    p.start(args.first(), args.mid(1));
    p.waitForFinished(10000);
    return p.exitCode() == 0 ? QString::fromUtf8(p.readAllStandardOutput()) : QStringLiteral("-");
}
QString Secret(const CProfile& p) {
    return Tool({"secret-tool", "lookup", "server", "Velmar98", "user", vault::KeyOf(p)});
}
QByteArray Hash(const QString& path) {
    return QCryptographicHash::hash(ReadFileBytes(path), QCryptographicHash::Sha256);
}
std::vector<CProfile> WithoutPasswords(std::vector<CProfile> profiles) {
    for (CProfile& p : profiles)
        p.m_password.clear();
    return profiles;
}

class Keyring : public ProfileFolderTest {
protected:
    void SetUp() override {
        ProfileFolderTest::SetUp();
        vault::ResetSession();
        Tool({"secret-tool", "clear", "server", "Velmar98"});
        m_three = {MakeProfile("A", "a.example", "ann", "pw-a", 1), MakeProfile("P", "p.example"),
                   MakeProfile("B", "b.example:2121", "bob", "pw-b"),
                   MakeProfile("C/1", "c.example", "c@rol", "pw c")};
        m_three[0].m_active = 1; // as the Profiles dialog writes the active one
    }
    void Start(const std::vector<CProfile>& profiles) {
        WriteFileBytes(FilePath(), EncodeProfileFile(profiles));
        ASSERT_TRUE(LoadProfilesAtStartup(*m_app));
    }
    // A new run of the program on the same folder.
    void Restart() {
        const QString dir = m_app->m_startupDir;
        m_app = std::make_unique<CVelmarApp>();
        m_app->m_startupDir = dir;
        m_app->m_profileFilePath = dir + QStringLiteral("Profiles.dat");
        vault::ResetSession();
        ASSERT_TRUE(LoadProfilesAtStartup(*m_app));
    }
    std::vector<CProfile> InFile() const { return LoadProfileList(FilePath()).profiles; }
    // Opens the Profiles dialog, lets `edit` work on it, closes it.
    template <class Fn> std::vector<CProfile> Edit(Fn edit) {
        CProfilesDlg dlg;
        edit(dlg);
        const std::vector<CProfile> shown = dlg.Profiles();
        dlg.OnClose();
        return shown;
    }
    bool SetOption(bool on) {
        COptionsDlg dlg(m_app.get());
        dlg.KeyringBox()->setChecked(on);
        dlg.accept();
        return dlg.result() == QDialog::Accepted;
    }
    void ExpectTheFileKeepsThePasswords(int waitMs);
    MessageBoxRecorder m_boxes;
    std::vector<CProfile> m_three;
};
using KeyringLocked = Keyring;
using KeyringAbsent = Keyring;
using KeyringStalled = Keyring;

TEST_F(Keyring, KeysTellEveryProfileApart) {
    QSet<QString> keys;
    for (const char* n : {"a/b|c|u", "a|b/c|u", "a|c|u@a", "a@c|a|u", "a%2F|c|u", "a|c|u%40a"})
        keys << vault::KeyOf(MakeProfile(QString(n).section('|', 0, 0),
                                         QString(n).section('|', 1, 1),
                                         QString(n).section('|', 2)));
    EXPECT_EQ(keys.size(), 6);
}

TEST_F(Keyring, AskedOnceOnSaveThenRestartConnectsWithTheKeyringPassword) {
    FtpServer server(FtpServer::Kind::Pyftpdlib);
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    CProfile site = MakeProfile("Site", server.Address(), server.User(), server.Password(), 1);
    site.m_active = 1;
    Start({MakeProfile("Anon", "x.example", {}, {}, 1)});
    Edit([](CProfilesDlg&) {}); // no password anywhere: nothing to ask
    EXPECT_EQ(m_boxes.Count(), 0);
    EXPECT_FALSE(settings::KeyringPasswords().has_value());

    Start({site});
    Edit([](CProfilesDlg&) {}); // answered Yes
    EXPECT_EQ(m_boxes.Captions(), QStringList{kCaption});
    EXPECT_EQ(settings::KeyringPasswords(), true);
    EXPECT_EQ(Secret(site), server.Password());
    EXPECT_EQ(InFile(), WithoutPasswords({site}));
    const QByteArray saved = Hash(FilePath());
    EXPECT_EQ(Edit([](CProfilesDlg&) {}).front().m_password, server.Password());
    EXPECT_EQ(Hash(FilePath()), saved);
    EXPECT_EQ(m_boxes.Count(), 1); // asked once, ever

    Restart();
    EXPECT_EQ(m_app->Site().Profile().m_password, server.Password());
    CInternetSession session;
    std::unique_ptr<CFtpConnection> connection(session.GetFtpConnection(
        site.m_address, m_app->Site().Profile().m_userId, m_app->Site().Profile().m_password));
    EXPECT_NE(connection, nullptr);
}

TEST_F(Keyring, AnsweredNoKeepsPasswordsInTheFile) {
    Start(m_three);
    m_boxes.Answer(IDNO);
    Edit([](CProfilesDlg&) {});
    EXPECT_EQ(settings::KeyringPasswords(), false);
    EXPECT_EQ(ReadFileBytes(FilePath()), EncodeProfileFile(m_three));
    EXPECT_EQ(Secret(m_three[0]), "-");
}

TEST_F(Keyring, OptionsMoveThreePasswordsInAndBackOut) {
    Start(m_three);
    const QByteArray clear = ReadFileBytes(FilePath());
    ASSERT_TRUE(SetOption(true));
    EXPECT_EQ(InFile(), WithoutPasswords(m_three));
    for (int i : {0, 2, 3})
        EXPECT_EQ(Secret(m_three[i]), m_three[i].m_password) << i;

    m_boxes.Answer(IDNO); // the write-back declined: nothing changes
    EXPECT_FALSE(SetOption(false));
    EXPECT_EQ(settings::KeyringPasswords(), true);
    EXPECT_EQ(InFile(), WithoutPasswords(m_three));

    ASSERT_TRUE(SetOption(false));
    EXPECT_EQ(ReadFileBytes(FilePath()), clear);
    EXPECT_EQ(settings::KeyringPasswords(), false);
    for (int i : {0, 2, 3})
        EXPECT_EQ(Secret(m_three[i]), "-") << i;
}

TEST_F(Keyring, DeleteAndRenameTakeTheirEntries) {
    Start(m_three);
    ASSERT_TRUE(MovePasswordsToKeyring(FilePath(), nullptr));
    const std::vector<CProfile> shown = Edit([](CProfilesDlg& dlg) {
        dlg.findChild<QListWidget*>("1012")->setCurrentRow(3); // C/1 goes
        dlg.OnDeleteProfile();
        dlg.findChild<QListWidget*>("1012")->setCurrentRow(2); // B becomes B2
        dlg.findChild<QLineEdit*>("1016")->setText("B2");
        dlg.findChild<QListWidget*>("1012")->setCurrentRow(0);
    });
    CProfile renamed = m_three[2];
    renamed.m_name = "B2";
    EXPECT_EQ(shown[0].m_password, "pw-a"); // read from the keyring
    EXPECT_EQ(InFile(), WithoutPasswords({m_three[0], m_three[1], renamed}));
    EXPECT_EQ(Secret(m_three[0]), "pw-a");
    EXPECT_EQ(Secret(renamed), "pw-b");
    EXPECT_EQ(Secret(m_three[2]), "-");
    EXPECT_EQ(Secret(m_three[3]), "-");
}

// A locked keyring, none, one that never answers: the Options refuse to move
// the passwords, a save keeps them in the file byte for byte, the user is told
// once, and the wait stays within its bound.
void Keyring::ExpectTheFileKeepsThePasswords(int waitMs) {
    Start(m_three);
    const QByteArray before = Hash(FilePath());
    vault::SetWaitLimitMs(waitMs);
    QElapsedTimer took;
    took.start();
    EXPECT_FALSE(SetOption(true));
    EXPECT_EQ(settings::KeyringPasswords(), std::nullopt);
    settings::SetKeyringPasswords(true);
    Restart();
    vault::SetWaitLimitMs(waitMs);
    m_boxes.Clear();
    Edit([](CProfilesDlg&) {});
    Edit([](CProfilesDlg&) {});
    EXPECT_LT(took.elapsed(), 2 * waitMs + 5000); // two bounded waits at most
    EXPECT_EQ(Hash(FilePath()), before);
    EXPECT_EQ(m_app->Site().Profile().m_password, "pw-a");
    EXPECT_EQ(m_boxes.Captions(), QStringList{kCaption});
}

void Lock() {
    Tool({"gdbus", "call", "--session", "--dest", "org.freedesktop.secrets", "--object-path",
          "/org/freedesktop/secrets", "--method", "org.freedesktop.Secret.Service.Lock",
          "['/org/freedesktop/secrets/collection/login']"});
}

// Locked after it last answered: its entries read as missing, never as empty passwords.
TEST_F(KeyringLocked, TurningOffKeepsTheSettingAndTheFile) {
    Start(m_three);
    ASSERT_TRUE(SetOption(true));
    const QByteArray before = Hash(FilePath());
    Lock();
    EXPECT_FALSE(SetOption(false));
    EXPECT_EQ(settings::KeyringPasswords(), true);
    EXPECT_EQ(Hash(FilePath()), before);
}

TEST_F(KeyringLocked, PasswordsStayInTheFile) {
    Lock();
    ExpectTheFileKeepsThePasswords(30000);
}

TEST_F(KeyringAbsent, PasswordsStayInTheFileAndNothingIsAsked) {
    Start(m_three);
    Edit([](CProfilesDlg&) {}); // the choice is open, but no keyring runs
    EXPECT_EQ(m_boxes.Count(), 0);
    ExpectTheFileKeepsThePasswords(30000);
}

TEST_F(KeyringStalled, PasswordsStayInTheFile) {
    const pid_t daemon = qEnvironmentVariableIntValue("VELMAR_KEYRING_PID");
    ASSERT_TRUE(daemon > 0 && ::kill(daemon, SIGSTOP) == 0);
    ExpectTheFileKeepsThePasswords(1000);
    ::kill(daemon, SIGCONT);
}
} // namespace
