#include <QDir>
#include <QFile>
#include <QSettings>
#include <gtest/gtest.h>

#include "AppFixture.h"
#include "MainFrame.h"
#include "ProfileFile.h"
#include "Registry.h"
#include "VelmarApp.h"

namespace {
const QString kKey = QStringLiteral("SOFTWARE\\Velmar98a");

void WriteSettings(const QMap<QString, QString>& values) {
    CRegKey key;
    ASSERT_TRUE(key.Create(kKey));
    for (auto it = values.begin(); it != values.end(); ++it)
        ASSERT_TRUE(key.SetString(it.key(), it.value()));
    ASSERT_TRUE(key.Close());
}

QString StoredText(const QString& name) {
    QSettings s(CRegKey::StoreFilePath(), QSettings::IniFormat);
    return s.value(QStringLiteral("SOFTWARE/Velmar98a/") + name).toString();
}

TEST(Startup, FirstStartCreatesTheSettingsAndTheSampleProfile) {
    AppFixture f;
    ASSERT_TRUE(f.InitInstance());
    EXPECT_EQ(StoredText(QStringLiteral("SortType")), QStringLiteral("1"));
    EXPECT_EQ(StoredText(QStringLiteral("Version")), QStringLiteral("5.5"));
    EXPECT_EQ(StoredText(QStringLiteral("SplitterWidth")), QStringLiteral("320"));
    EXPECT_EQ(StoredText(QStringLiteral("SplitterHeight")), QStringLiteral("240"));
    EXPECT_TRUE(QFile::exists(f.StartupDir() + QStringLiteral("Profiles.dat")));
    EXPECT_EQ(f.App().Site().Profile().m_name, QStringLiteral("Sample Profile"));
    EXPECT_EQ(f.Frame()->windowTitle(), QStringLiteral("Velmar98 - Sample Profile"));
    EXPECT_EQ(f.App().m_sortByName, 1);
    EXPECT_FALSE(f.App().IsStartingUp());
    EXPECT_EQ(f.App().m_profileFilePath, f.StartupDir() + QStringLiteral("Profiles.dat"));
}

TEST(Startup, TheStoredSortTypeSetsExactlyItsFlag) {
    struct Case {
        const char* stored;
        int name, extension, size, date;
    } cases[] = {{"1", 1, 0, 0, 0}, {"2", 0, 1, 0, 0}, {"3", 0, 0, 1, 0},  {"4", 0, 0, 0, 1},
                 {"5", 0, 0, 0, 0}, {"", 0, 0, 0, 0},  {"33", 0, 0, 0, 0}, {" 3", 0, 0, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        QFile::remove(CRegKey::StoreFilePath());
        WriteSettings({{QStringLiteral("SortType"), QString::fromLatin1(c.stored)},
                       {QStringLiteral("Version"), QStringLiteral("5.5")},
                       {QStringLiteral("SplitterWidth"), QStringLiteral("300")},
                       {QStringLiteral("SplitterHeight"), QStringLiteral("200")}});
        AppFixture f;
        f.WriteOfflineProfile();
        ASSERT_TRUE(f.InitInstance());
        CVelmarApp& app = f.App();
        EXPECT_EQ(app.m_sortByName, c.name);
        EXPECT_EQ(app.m_sortByExtension, c.extension);
        EXPECT_EQ(app.m_sortBySize, c.size);
        EXPECT_EQ(app.m_sortByDate, c.date);
        EXPECT_EQ(app.m_splitterWidth, 300);
        EXPECT_EQ(app.m_splitterHeight, 200);
    }
}

TEST(Startup, AMissingValueEndsTheProgramWithTheRegistryMessageAndRepairsNothing) {
    const QStringList names = {QStringLiteral("SortType"), QStringLiteral("Version"),
                               QStringLiteral("SplitterWidth"), QStringLiteral("SplitterHeight")};
    for (const QString& missing : names) {
        SCOPED_TRACE(missing.toStdString());
        QFile::remove(CRegKey::StoreFilePath());
        QMap<QString, QString> values = {{QStringLiteral("SortType"), QStringLiteral("1")},
                                         {QStringLiteral("Version"), QStringLiteral("5.5")},
                                         {QStringLiteral("SplitterWidth"), QStringLiteral("320")},
                                         {QStringLiteral("SplitterHeight"), QStringLiteral("240")}};
        values.remove(missing);
        WriteSettings(values);
        QFile store(CRegKey::StoreFilePath());
        ASSERT_TRUE(store.open(QIODevice::ReadOnly));
        const QByteArray before = store.readAll();
        store.close();

        AppFixture f;
        EXPECT_FALSE(f.InitInstance());
        EXPECT_EQ(f.Boxes().Captions(), QStringList{QStringLiteral("Velmar98")});
        EXPECT_EQ(f.Boxes().Calls().value(0).text,
                  QStringLiteral("A Windows Registry Error was encountered."));
        EXPECT_EQ(f.Frame(), nullptr);
        EXPECT_FALSE(QFile::exists(f.StartupDir() + QStringLiteral("Profiles.dat")));
        ASSERT_TRUE(store.open(QIODevice::ReadOnly));
        EXPECT_EQ(store.readAll(), before);
    }
}

TEST(Startup, EveryFailingRegistryStepOfAFirstStartEndsTheProgram) {
    const CRegKey::Op ops[] = {CRegKey::Op::Create, CRegKey::Op::Set, CRegKey::Op::Close};
    for (CRegKey::Op op : ops) {
        QFile::remove(CRegKey::StoreFilePath());
        CRegKey::FailNext(op);
        AppFixture f;
        EXPECT_FALSE(f.InitInstance());
        EXPECT_EQ(f.Boxes().CountCaption(QStringLiteral("Velmar98")), 1);
        CRegKey::ClearFailures();
    }
}

TEST(Startup, TheWorkingDirectoryGetsExactlyOneTrailingSeparator) {
    struct Case {
        const char* cwd;
        const char* dir;
    } cases[] = {{"/", "/"}, {"/work", "/work/"}, {"/work/", "/work/"}, {"/a b/c", "/a b/c/"}};
    for (const Case& c : cases)
        EXPECT_EQ(CVelmarApp::StartupDirFor(QString::fromLatin1(c.cwd)),
                  QString::fromLatin1(c.dir));
}

TEST(Startup, ADefaultProfileFromTheFileBecomesActiveAndNamesTheWindow) {
    AppFixture f;
    std::vector<CProfile> profiles(3);
    for (int i = 0; i < 3; ++i) {
        profiles[i].m_name = QStringLiteral("Site %1").arg(i);
        profiles[i].m_address = QStringLiteral("127.0.0.1:1");
        profiles[i].m_anonymous = 1;
    }
    profiles[1].m_default = 1;
    ASSERT_TRUE(SaveProfileList(f.StartupDir() + QStringLiteral("Profiles.dat"), profiles));
    ASSERT_TRUE(f.InitInstance());
    EXPECT_EQ(f.App().Site().ProfileIndex(), 1);
    EXPECT_EQ(f.Frame()->windowTitle(), QStringLiteral("Velmar98 - Site 1"));
    // The unreachable server was reported, and the FTP side is marked unavailable.
    EXPECT_EQ(f.Boxes().CountCaption(QStringLiteral("Error Opening FTP Connection")), 1);
    EXPECT_TRUE(f.App().Site().IsUnavailable());
    EXPECT_EQ(f.App().Site().Session(), nullptr);
}
} // namespace
