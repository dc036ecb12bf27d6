// The Profiles dialog driven through its controls, on a real profile file in a
// temporary folder.
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "HelpWindow.h"
#include "MessageBoxRecorder.h"
#include "ProfileFile.h"
#include "ProfileTestUtil.h"
#include "ProfilesDlg.h"

namespace {
const QString kIncomplete =
    QStringLiteral("You must complete all required fields (indicated by *).");

class ProfilesDialog : public ProfileFolderTest {
protected:
    // A anonymous and default, B and D with logins, C anonymous.
    static std::vector<CProfile> FourProfiles() {
        return {MakeProfile(QStringLiteral("A"), QStringLiteral("a.example"), {}, {}, 1),
                MakeProfile(QStringLiteral("B"), QStringLiteral("b.example"), QStringLiteral("bob"),
                            QStringLiteral("pw-b")),
                MakeProfile(QStringLiteral("C"), QStringLiteral("c.example")),
                MakeProfile(QStringLiteral("D"), QStringLiteral("d.example"),
                            QStringLiteral("dave"), QStringLiteral("pw-d"))};
    }
    void StartWith(const std::vector<CProfile>& profiles) {
        WriteFileBytes(FilePath(), EncodeProfileFile(profiles));
        ASSERT_TRUE(LoadProfilesAtStartup(*m_app));
    }
    void Open() {
        m_dlg = std::make_unique<CProfilesDlg>();
        m_dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dlg.get()));
    }
    template <class T> T* Ctl(const char* id) const {
        T* widget = m_dlg->findChild<T*>(QLatin1String(id));
        EXPECT_NE(widget, nullptr) << id;
        return widget;
    }
    QListWidget* List() const { return Ctl<QListWidget>("1012"); }
    QLineEdit* Edit(const char* id) const { return Ctl<QLineEdit>(id); }
    QCheckBox* Box(const char* id) const { return Ctl<QCheckBox>(id); }
    bool Hidden(const char* id) const { return Ctl<QWidget>(id)->isHidden(); }
    void Click(const char* id) { QTest::mouseClick(Ctl<QPushButton>(id), Qt::LeftButton); }
    // On the indicator: a box's label may not reach its middle.
    void ClickBox(const char* id) {
        QCheckBox* box = Box(id);
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    }
    void ClickRow(int row) {
        QListWidget* list = List();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(row)).center());
    }
    void SetText(const char* id, const QString& text) {
        QLineEdit* edit = Edit(id);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }
    int ListRow() const {
        const auto items = List()->selectedItems();
        return items.isEmpty() ? -1 : List()->row(items.first());
    }
    QStringList Names() const {
        QStringList names;
        for (const CProfile& p : m_dlg->Profiles())
            names << p.m_name;
        return names;
    }
    QString ActiveNames() const {
        QString marks;
        for (const CProfile& p : m_dlg->Profiles())
            marks += p.m_active ? p.m_name : QStringLiteral("-");
        return marks;
    }
    QString DefaultNames() const {
        QString marks;
        for (const CProfile& p : m_dlg->Profiles())
            marks += p.m_default ? p.m_name : QStringLiteral("-");
        return marks;
    }
    std::vector<CProfile> FileProfiles() const { return LoadProfileList(FilePath()).profiles; }

    MessageBoxRecorder m_boxes;
    std::unique_ptr<CProfilesDlg> m_dlg;
};

TEST_F(ProfilesDialog, SampleFileShowsOneLockedAnonymousProfile) {
    ASSERT_TRUE(LoadProfilesAtStartup(*m_app));
    const QByteArray before = ReadFileBytes(FilePath());
    Open();
    EXPECT_EQ(m_dlg->windowTitle(), QStringLiteral("Velmar98 Profiles"));
    EXPECT_EQ(List()->count(), 1);
    EXPECT_EQ(List()->item(0)->text(), QStringLiteral("Sample Profile"));
    EXPECT_EQ(ListRow(), 0);
    EXPECT_TRUE(Box("1031")->isChecked());
    EXPECT_TRUE(Box("1030")->isChecked());
    EXPECT_TRUE(Box("1013")->isChecked());
    EXPECT_EQ(Edit("1017")->text(), QStringLiteral("ftp.gnu.org"));
    EXPECT_TRUE(Hidden("1023"));
    EXPECT_TRUE(Hidden("1014"));
    EXPECT_TRUE(Hidden("1029"));
    EXPECT_FALSE(Hidden("1022"));
    EXPECT_FALSE(Hidden("1015"));
    EXPECT_TRUE(Edit("1018")->isReadOnly());
    EXPECT_TRUE(Edit("1019")->isReadOnly());
    EXPECT_EQ(Ctl<QLabel>("1027")->text(), QStringLiteral("User ID"));
    EXPECT_EQ(Ctl<QLabel>("1028")->text(), QStringLiteral("Password"));
    EXPECT_EQ(Edit("1019")->echoMode(), QLineEdit::Password);
    for (const char* id : {"1016", "1017", "1018", "1019", "1020", "1021"})
        EXPECT_EQ(Edit(id)->maxLength(), 100) << id;
    for (const char* id :
         {"1012", "1022", "1023", "1031", "1016", "1017", "1013", "1018", "1019", "1020", "1021",
          "1030", "1014", "1015", "1011", "1029", "1027", "1028", "1066"})
        EXPECT_FALSE(Ctl<QWidget>(id)->accessibleName().isEmpty()) << id;

    // Enter closes; the one profile is active already, so nothing is asked.
    List()->setFocus();
    QTest::keyClick(List(), Qt::Key_Return);
    EXPECT_FALSE(m_dlg->isVisible());
    EXPECT_EQ(m_boxes.Count(), 0);
    EXPECT_TRUE(m_app->Site().IsRebuildRequested());
    EXPECT_EQ(ReadFileBytes(FilePath()), before);
}

TEST_F(ProfilesDialog, ClosingOnAnotherProfileAsksWhetherItShouldBeActive) {
    for (const int answer : {int(IDYES), int(IDNO)}) {
        SCOPED_TRACE(answer);
        StartWith(FourProfiles());
        Open();
        ClickRow(1);
        EXPECT_EQ(m_dlg->SelectedIndex(), 1);
        m_boxes.Clear();
        m_boxes.Answer(answer);
        Click("1011");
        ASSERT_EQ(m_boxes.Count(), 1);
        EXPECT_EQ(m_boxes.Calls()[0].text,
                  QStringLiteral("Would you like 'B' to be the Active Profile?"));
        EXPECT_EQ(m_boxes.Calls()[0].caption, QStringLiteral("Confirm Active Profile Selection"));
        EXPECT_EQ(m_boxes.Calls()[0].flags, unsigned(MB_YESNO | MB_ICONQUESTION));
        EXPECT_FALSE(m_dlg->isVisible());

        const QString expected = answer == IDYES ? QStringLiteral("B") : QStringLiteral("A");
        EXPECT_EQ(m_app->Site().ProfileIndex(), answer == IDYES ? 1 : 0);
        EXPECT_EQ(m_app->Site().Profile().m_name, expected);
        const auto file = FileProfiles();
        ASSERT_EQ(file.size(), 4u);
        for (const CProfile& p : file)
            EXPECT_EQ(p.m_active, p.m_name == expected ? 1 : 0) << p.m_name.toStdString();
        EXPECT_EQ(file[0].m_default, 1);
        m_dlg.reset();
    }
}

TEST_F(ProfilesDialog, EscapeAndTheCloseBoxRunTheCloseOperation) {
    StartWith(FourProfiles());
    Open();
    ClickRow(2);
    m_boxes.Answer(IDNO);
    QTest::keyClick(Edit("1016"), Qt::Key_Escape);
    EXPECT_EQ(m_boxes.Captions(), QStringList{QStringLiteral("Confirm Active Profile Selection")});
    EXPECT_FALSE(m_dlg->isVisible());

    // An incomplete profile keeps the window open, whichever way it is closed.
    m_boxes.Clear();
    Open();
    SetText("1016", QString());
    EXPECT_FALSE(m_dlg->close());
    EXPECT_TRUE(m_dlg->isVisible());
    EXPECT_EQ(m_boxes.Captions(), QStringList{QStringLiteral("Incomplete Profile")});
}

TEST_F(ProfilesDialog, MissingRequiredFieldKeepsTheSelectionAndStoresNothing) {
    struct Case {
        const char* id;
        int row;
    };
    // B has a login, so all four fields are required there; A is anonymous.
    const Case cases[] = {{"1016", 1}, {"1017", 1}, {"1018", 1}, {"1019", 1}, {"1017", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        StartWith(FourProfiles());
        Open();
        ClickRow(c.row);
        const auto stored = m_dlg->Profiles();
        m_boxes.Clear();
        SetText(c.id, QString());
        ClickRow(3);
        ASSERT_EQ(m_boxes.Count(), 1);
        EXPECT_EQ(m_boxes.Calls()[0].text, kIncomplete);
        EXPECT_EQ(m_boxes.Calls()[0].caption, QStringLiteral("Incomplete Profile"));
        EXPECT_EQ(m_boxes.Calls()[0].flags, unsigned(MB_OK | MB_ICONHAND));
        EXPECT_EQ(ListRow(), c.row);
        EXPECT_EQ(m_dlg->SelectedIndex(), c.row);
        EXPECT_TRUE(Edit(c.id)->text().isEmpty()) << "the user's edits stay on screen";
        EXPECT_EQ(m_dlg->Profiles(), stored);

        // Cancel Changes brings the stored profile back; then moving on works.
        Click("1015");
        EXPECT_EQ(Edit(c.id)->text().isEmpty(), false);
        ClickRow(3);
        EXPECT_EQ(m_dlg->SelectedIndex(), 3);
        EXPECT_EQ(m_boxes.Count(), 1);
        m_dlg.reset();
    }
}

TEST_F(ProfilesDialog, AnonymousEmptiesAndLocksTheLoginThenRequiresItAgain) {
    StartWith(FourProfiles());
    Open();
    ClickRow(1);
    EXPECT_EQ(Edit("1018")->text(), QStringLiteral("bob"));
    EXPECT_EQ(Ctl<QLabel>("1027")->text(), QStringLiteral("* User ID"));
    EXPECT_FALSE(Edit("1018")->isReadOnly());

    ClickBox("1013");
    EXPECT_TRUE(Box("1013")->isChecked());
    EXPECT_TRUE(Edit("1018")->text().isEmpty());
    EXPECT_TRUE(Edit("1019")->text().isEmpty());
    EXPECT_TRUE(Edit("1018")->isReadOnly());
    EXPECT_TRUE(Edit("1019")->isReadOnly());
    EXPECT_EQ(Ctl<QLabel>("1027")->text(), QStringLiteral("User ID"));
    EXPECT_EQ(Ctl<QLabel>("1028")->text(), QStringLiteral("Password"));

    ClickBox("1013");
    EXPECT_FALSE(Edit("1018")->isReadOnly());
    EXPECT_FALSE(Edit("1019")->isReadOnly());
    EXPECT_TRUE(Edit("1018")->text().isEmpty()) << "emptied texts do not come back";
    EXPECT_EQ(Ctl<QLabel>("1027")->text(), QStringLiteral("* User ID"));
    EXPECT_EQ(Ctl<QLabel>("1028")->text(), QStringLiteral("* Password"));
    ClickRow(2);
    EXPECT_EQ(m_boxes.CountCaption(QStringLiteral("Incomplete Profile")), 1);
    EXPECT_EQ(m_dlg->SelectedIndex(), 1);

    ClickBox("1013");
    ClickRow(2);
    EXPECT_EQ(m_dlg->SelectedIndex(), 2);
    const CProfile& b = m_dlg->Profiles()[1];
    EXPECT_EQ(b.m_anonymous, 1);
    EXPECT_TRUE(b.m_userId.isEmpty());
    EXPECT_TRUE(b.m_password.isEmpty());
}

TEST_F(ProfilesDialog, CheckedDefaultAndActiveBoxesCannotBeUnchecked) {
    StartWith(FourProfiles());
    Open();
    for (const char* id : {"1030", "1031"}) {
        SCOPED_TRACE(id);
        ASSERT_TRUE(Box(id)->isChecked()); // A is default and active
        ClickBox(id);
        EXPECT_TRUE(Box(id)->isChecked());
        QTest::keyClick(Box(id), Qt::Key_Space);
        EXPECT_TRUE(Box(id)->isChecked());
    }
    ClickRow(1);
    for (const char* id : {"1030", "1031"}) {
        ASSERT_FALSE(Box(id)->isChecked());
        ClickBox(id);
        EXPECT_TRUE(Box(id)->isChecked()) << id;
    }
}

TEST_F(ProfilesDialog, StoringWithDefaultOrActiveTakesTheMarkFromTheOthers) {
    StartWith(FourProfiles());
    Open();
    ClickRow(3);
    ClickBox("1030");
    ClickBox("1031");
    SetText("1017", QStringLiteral("d2.example"));
    ClickRow(2);
    EXPECT_EQ(DefaultNames(), QStringLiteral("---D"));
    EXPECT_EQ(ActiveNames(), QStringLiteral("---D"));
    // The application follows at once, before the dialog closes.
    EXPECT_EQ(m_app->Site().ProfileIndex(), 3);
    EXPECT_EQ(m_app->Site().Profile().m_name, QStringLiteral("D"));
    EXPECT_EQ(m_app->Site().Profile().m_address, QStringLiteral("d2.example"));
    EXPECT_EQ(m_app->Site().Profile().m_userId, QStringLiteral("dave"));
    EXPECT_EQ(m_app->Site().Profile().m_password, QStringLiteral("pw-d"));
    EXPECT_EQ(m_app->Site().Profile().m_initialDir, QStringLiteral("/pub/D"));

    // Only default: the active mark stays where it was.
    ClickBox("1030");
    ClickRow(0);
    EXPECT_EQ(DefaultNames(), QStringLiteral("--C-"));
    EXPECT_EQ(ActiveNames(), QStringLiteral("---D"));
    EXPECT_EQ(m_app->Site().ProfileIndex(), 3);

    m_boxes.Answer(IDNO);
    Click("1011");
    const auto file = FileProfiles();
    ASSERT_EQ(file.size(), 4u);
    EXPECT_EQ(file[2].m_default, 1);
    EXPECT_EQ(file[3].m_active, 1);
    EXPECT_EQ(file[3].m_address, QStringLiteral("d2.example"));
    EXPECT_EQ(file[0].m_default + file[0].m_active + file[1].m_default + file[1].m_active, 0);
}

TEST_F(ProfilesDialog, DeletingPassesTheMarksOnAndKeepsTheActiveIndexRight) {
    struct Case {
        const char* what;
        int activeIndex; // before opening
        int deleteRow;
        QString names, defaults, actives;
        int appIndex;
        QString appName;
        int selected;
    };
    const Case cases[] = {
        {"active in the middle", 1, 1, "ACD", "A--", "-C-", 1, "C", 1},
        {"active at the end", 3, 3, "ABC", "A--", "--C", 2, "C", 2},
        {"default profile", 2, 0, "BCD", "B--", "-C-", 1, "C", 0},
        {"before the active", 2, 1, "ACD", "A--", "-C-", 1, "C", 1},
        {"after the active", 1, 2, "ABD", "A--", "-B-", 1, "B", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StartWith(FourProfiles());
        m_app->Site().SetActiveProfile(FourProfiles()[c.activeIndex], c.activeIndex);
        Open();
        ClickRow(c.deleteRow);
        SetText("1021", QStringLiteral("edit that is dropped"));
        m_boxes.Clear();
        Click("1023");
        ASSERT_EQ(m_boxes.Count(), 1);
        EXPECT_EQ(m_boxes.Calls()[0].text,
                  QStringLiteral("Are you sure you want to delete this Profile?"));
        EXPECT_EQ(m_boxes.Calls()[0].caption, QStringLiteral("Confirm Delete Profile"));
        EXPECT_EQ(m_boxes.Calls()[0].flags, unsigned(MB_OKCANCEL | MB_ICONQUESTION));
        EXPECT_EQ(Names().join(QString()), c.names);
        EXPECT_EQ(List()->count(), 3);
        EXPECT_EQ(DefaultNames(), c.defaults);
        EXPECT_EQ(ActiveNames(), c.actives);
        EXPECT_EQ(m_app->Site().ProfileIndex(), c.appIndex);
        EXPECT_EQ(m_app->Site().Profile().m_name, c.appName);
        EXPECT_EQ(m_dlg->SelectedIndex(), c.selected);
        EXPECT_EQ(ListRow(), c.selected);
        EXPECT_EQ(Edit("1016")->text(), c.names.mid(c.selected, 1));
        for (const CProfile& p : m_dlg->Profiles())
            EXPECT_NE(p.m_comment, QStringLiteral("edit that is dropped"));
        // The file is written only on closing.
        EXPECT_EQ(FileProfiles().size(), 4u);
        m_dlg.reset();
    }
}

TEST_F(ProfilesDialog, CancelledDeleteChangesNothing) {
    StartWith(FourProfiles());
    Open();
    ClickRow(2);
    const auto before = m_dlg->Profiles();
    m_boxes.Answer(IDCANCEL);
    Click("1023");
    EXPECT_EQ(m_boxes.Count(), 1);
    EXPECT_EQ(m_dlg->Profiles(), before);
    EXPECT_EQ(m_dlg->SelectedIndex(), 2);
}

TEST_F(ProfilesDialog, DeleteIsHiddenWhenOneProfileRemains) {
    auto three = FourProfiles();
    three.pop_back();
    StartWith(three);
    Open();
    Click("1023");
    EXPECT_EQ(List()->count(), 2);
    EXPECT_FALSE(Hidden("1023"));
    Click("1023");
    EXPECT_EQ(List()->count(), 1);
    EXPECT_TRUE(Hidden("1023"));
    EXPECT_EQ(ActiveNames(), QStringLiteral("C"));
    EXPECT_EQ(DefaultNames(), QStringLiteral("C"));
}

TEST_F(ProfilesDialog, NewProfileIsDiscardedByAClickInTheList) {
    StartWith(FourProfiles());
    Open();
    Click("1022");
    EXPECT_TRUE(m_dlg->IsNewMode());
    EXPECT_FALSE(Hidden("1029"));
    EXPECT_TRUE(Hidden("1022"));
    EXPECT_TRUE(Hidden("1023"));
    EXPECT_TRUE(Hidden("1015"));
    EXPECT_FALSE(Hidden("1014"));
    EXPECT_EQ(ListRow(), -1);
    EXPECT_TRUE(Edit("1017")->text().isEmpty());
    EXPECT_FALSE(Box("1031")->isChecked());
    EXPECT_EQ(Ctl<QLabel>("1027")->text(), QStringLiteral("* User ID"));
    QTest::keyClicks(Edit("1016"), QStringLiteral("Half"));

    ClickRow(1);
    EXPECT_EQ(m_boxes.Count(), 0);
    EXPECT_FALSE(m_dlg->IsNewMode());
    EXPECT_EQ(Names(), (QStringList{"A", "B", "C", "D"}));
    EXPECT_EQ(Edit("1016")->text(), QStringLiteral("B"));
    EXPECT_TRUE(Hidden("1014"));
    EXPECT_FALSE(Hidden("1023"));

    // Closing in new mode discards the new profile without a question.
    Click("1022");
    QTest::keyClicks(Edit("1016"), QStringLiteral("Half"));
    Click("1011");
    EXPECT_EQ(m_boxes.Count(), 0);
    EXPECT_FALSE(m_dlg->isVisible());
    EXPECT_EQ(FileProfiles().size(), 4u);
}

TEST_F(ProfilesDialog, AddedActiveProfileIsAppendedSelectedAndActive) {
    StartWith(FourProfiles());
    Open();
    Click("1022");
    QTest::keyClicks(Edit("1016"), QStringLiteral("New site"));
    QTest::keyClicks(Edit("1017"), QStringLiteral("new.example"));
    ClickBox("1031");
    Click("1014");
    // No login yet: refused, still in new mode with what was typed.
    EXPECT_EQ(m_boxes.Captions(), QStringList{QStringLiteral("Incomplete Profile")});
    EXPECT_TRUE(m_dlg->IsNewMode());
    EXPECT_EQ(ListRow(), -1);
    EXPECT_EQ(Edit("1016")->text(), QStringLiteral("New site"));
    EXPECT_EQ(List()->count(), 4);

    QTest::keyClicks(Edit("1018"), QStringLiteral("nina"));
    QTest::keyClicks(Edit("1019"), QStringLiteral("pw-n"));
    Click("1014");
    EXPECT_EQ(m_boxes.Count(), 1);
    EXPECT_FALSE(m_dlg->IsNewMode());
    EXPECT_EQ(List()->count(), 5);
    EXPECT_EQ(List()->item(4)->text(), QStringLiteral("New site"));
    EXPECT_EQ(ListRow(), 4);
    EXPECT_EQ(m_dlg->SelectedIndex(), 4);
    EXPECT_EQ(ActiveNames(), QStringLiteral("----New site"));
    EXPECT_EQ(m_app->Site().ProfileIndex(), 4);
    EXPECT_EQ(m_app->Site().Profile().m_address, QStringLiteral("new.example"));
    EXPECT_EQ(m_app->Site().Profile().m_password, QStringLiteral("pw-n"));
    EXPECT_TRUE(Hidden("1014"));
    EXPECT_FALSE(Hidden("1015"));
    EXPECT_FALSE(Hidden("1022"));
}

TEST_F(ProfilesDialog, ClosingUnchangedRewritesTheFileWithOnlyActiveMarksRecomputed) {
    auto stored = FourProfiles();
    stored[2].m_active = 1; // a stale mark from elsewhere; A is the default
    StartWith(stored);
    Open();
    Click("1011");
    EXPECT_EQ(m_boxes.Count(), 0);
    auto expected = stored;
    expected[0].m_active = 1;
    expected[2].m_active = 0;
    EXPECT_EQ(ReadFileBytes(FilePath()), EncodeProfileFile(expected));
}

TEST_F(ProfilesDialog, HelpOpensTheProfilesTopic) {
    StartWith(FourProfiles());
    Open();
    Click("1066");
    const HelpRequest request = LastHelpRequest();
    EXPECT_EQ(request.helpFile, m_app->m_startupDir + QStringLiteral("Velmar98.hlp"));
    EXPECT_EQ(request.command, HELP_CONTEXT);
    EXPECT_EQ(request.context, 300);
    if (CurrentHelpWindow())
        CurrentHelpWindow()->close();
}

TEST_F(ProfilesDialog, UnsavableFileIsReportedAndLeftAsItWas) {
    StartWith(FourProfiles());
    Open();
    // Something that is not a file now stands where the list must go.
    ASSERT_TRUE(QFile::remove(FilePath()));
    ASSERT_TRUE(QDir().mkdir(FilePath()));
    Click("1011");
    EXPECT_EQ(m_boxes.Captions(), QStringList{QStringLiteral("Error Saving Profiles")});
    EXPECT_EQ(m_boxes.Calls()[0].text,
              QStringLiteral("The program was unable to save the profile file."));
    EXPECT_FALSE(m_dlg->isVisible());
    EXPECT_TRUE(QFileInfo(FilePath()).isDir());
    EXPECT_TRUE(m_app->Site().IsRebuildRequested());
}

TEST_F(ProfilesDialog, DamagedFileIsKeptAsideBeforeItIsReplaced) {
    const auto four = FourProfiles();
    QByteArray damaged = EncodeProfileFile(four);
    damaged.chop(5);
    WriteFileBytes(FilePath(), damaged);
    ASSERT_TRUE(LoadProfilesAtStartup(*m_app));
    Open();
    EXPECT_EQ(m_boxes.Captions(), QStringList{QStringLiteral("Damaged Profile File")});
    EXPECT_EQ(Names(), (QStringList{"A", "B", "C"}));
    Click("1011");
    EXPECT_EQ(ReadFileBytes(FilePath() + QStringLiteral(".damaged")), damaged);
    EXPECT_EQ(FileProfiles().size(), 3u);
}

TEST_F(ProfilesDialog, FileWithoutProfilesStillGivesOneToEdit) {
    WriteFileBytes(FilePath(), QByteArrayLiteral("\0\0\0\0"));
    ASSERT_TRUE(LoadProfilesAtStartup(*m_app));
    Open();
    EXPECT_EQ(Names(), QStringList{QStringLiteral("Sample Profile")});
    EXPECT_EQ(ListRow(), 0);
    EXPECT_TRUE(Box("1031")->isChecked());
    Click("1011");
    EXPECT_EQ(FileProfiles().size(), 1u);
    EXPECT_EQ(ReadFileBytes(FilePath() + QStringLiteral(".damaged")), QByteArray(4, '\0'));
}
} // namespace

namespace {
// A text of length characters that differs from every other text of the test.
QString LongText(const QString& seed, int length) {
    QString text;
    for (int i = 0; text.size() < length; ++i)
        text += seed + QString::number(i) + QLatin1Char(' ');
    return text.left(length);
}

CProfile LongProfile(const QString& name) {
    CProfile p = MakeProfile(LongText(name, 300), LongText(name + QStringLiteral(".host"), 300),
                             LongText(name + QStringLiteral("-user"), 300),
                             LongText(name + QStringLiteral("-pw"), 300));
    p.m_initialDir = LongText(QStringLiteral("/") + name + QStringLiteral("/dir"), 300);
    p.m_comment = LongText(name + QStringLiteral(" says"), 300);
    return p;
}

// The texts of each profile, in order: what a cut would change.
QStringList TextsOf(const std::vector<CProfile>& profiles) {
    QStringList texts;
    for (const CProfile& p : profiles)
        texts << p.m_name << p.m_address << p.m_userId << p.m_password << p.m_initialDir
              << p.m_comment;
    return texts;
}

class LongTexts : public ProfilesDialog {
protected:
    void Check(const CProfile& p) const {
        const std::pair<const char*, QString> fields[] = {
            {"1016", p.m_name},     {"1017", p.m_address},    {"1018", p.m_userId},
            {"1019", p.m_password}, {"1020", p.m_initialDir}, {"1021", p.m_comment}};
        for (const auto& [id, text] : fields) {
            ASSERT_EQ(text.size(), 300);
            EXPECT_EQ(Edit(id)->text(), text) << id;
        }
    }
};

TEST_F(LongTexts, TextsReadFromTheFileAreShownAndSavedWhole) {
    const std::vector<CProfile> profiles = {
        MakeProfile(QStringLiteral("A"), QStringLiteral("a.example"), {}, {}, 1),
        LongProfile(QStringLiteral("B")), MakeProfile(QStringLiteral("C"), QStringLiteral("c")),
        LongProfile(QStringLiteral("D"))};
    StartWith(profiles);
    const QByteArray before = ReadFileBytes(FilePath());
    Open();
    for (const int row : {1, 3, 0, 3, 1}) {
        ClickRow(row);
        if (row == 1 || row == 3)
            Check(profiles[std::size_t(row)]);
    }
    EXPECT_EQ(TextsOf(m_dlg->Profiles()), TextsOf(profiles));
    m_boxes.Answer(IDNO); // B is not to become the active profile
    Click("1011");
    EXPECT_FALSE(m_dlg->isVisible());
    EXPECT_EQ(TextsOf(FileProfiles()), TextsOf(profiles));
    // Close writes the active mark; every text stands in the file byte for byte.
    const QByteArray after = ReadFileBytes(FilePath());
    EXPECT_EQ(after.size(), before.size());
    for (const QString& text : TextsOf(profiles))
        EXPECT_TRUE(after.contains(text.toLatin1())) << text.left(20).toStdString();
}

TEST_F(LongTexts, TypingStaysWithinTheLimitAndALongTextNeverGrows) {
    StartWith({MakeProfile(QStringLiteral("A"), QStringLiteral("a.example"), {}, {}, 1),
               LongProfile(QStringLiteral("B"))});
    Open();
    // A short text takes typing up to 100 characters and no more.
    QLineEdit* comment = Edit("1021");
    comment->setFocus();
    comment->end(false);
    QTest::keyClicks(comment, QString(150, QLatin1Char('x')));
    EXPECT_EQ(comment->text().size(), 100);
    Click("1015"); // Cancel Changes
    ClickRow(1);
    QLineEdit* name = Edit("1016");
    const QString whole = name->text();
    ASSERT_EQ(whole.size(), 300);
    name->setFocus();
    name->end(false);
    QTest::keyClicks(name, QStringLiteral("zz"));
    EXPECT_EQ(name->text(), whole);
    QTest::keyClick(name, Qt::Key_Backspace);
    QTest::keyClicks(name, QStringLiteral("zz"));
    EXPECT_EQ(name->text(), whole.chopped(1));
}
} // namespace
