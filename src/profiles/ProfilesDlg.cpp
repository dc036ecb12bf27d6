#include "ProfilesDlg.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <algorithm>

#include "MessageBox.h"
#include "ProfileFile.h"
#include "ProfilePasswords.h"
#include "VelmarApp.h"

namespace {
constexpr int kMaxFieldLength = 100;
constexpr int kEditCapacity = 32767; // the most a line edit holds

// Texts read from the profile file are shown whole, however long; only typing is
// held to the limit. A text already longer may be shortened but never grow.
void ShowWhole(QLineEdit* edit, const QString& text) {
    edit->setMaxLength(
        std::max(kMaxFieldLength, int(std::min<qsizetype>(text.size(), kEditCapacity))));
    edit->setText(text);
}

// An edit's text, or the shown value while the field still shows it: a text is
// saved as it was read, even one longer than an edit can hold.
QString Taken(const QLineEdit* edit, const QString& shown) {
    return edit->text() == shown.left(kEditCapacity) ? shown : edit->text();
}

QLabel* MakeLabel(QWidget* parent, const QString& text, QWidget* buddy) {
    auto* label = new QLabel(text, parent);
    label->setAccessibleName(text);
    if (buddy)
        label->setBuddy(buddy);
    return label;
}
} // namespace

CProfilesDlg::CProfilesDlg(QWidget* parent) : QDialog(parent), m_app(AfxGetApp()) {
    setObjectName(QString::number(IDD));
    setWindowTitle(QStringLiteral("Velmar98 Profiles"));
    setAccessibleName(QStringLiteral("Velmar98 Profiles"));
    BuildControls();
    OnInitDialog();
}

QLineEdit* CProfilesDlg::AddEdit(const char* id, const QString& accessibleName) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QLatin1String(id));
    edit->setAccessibleName(accessibleName);
    return edit;
}

QPushButton* CProfilesDlg::AddButton(const char* id, const QString& text) {
    auto* button = new QPushButton(text, this);
    button->setObjectName(QLatin1String(id));
    button->setAccessibleName(QString(text).remove(QLatin1Char('&')));
    return button;
}

QCheckBox* CProfilesDlg::AddCheckBox(const char* id, const QString& text) {
    auto* box = new QCheckBox(text, this);
    box->setObjectName(QLatin1String(id));
    box->setAccessibleName(text);
    return box;
}

// The list on the left; on the right, from top to bottom: New Profile (or its
// "New Profile:" label) and Delete, the Active box, the note, one row per field,
// the Default box, then Add Profile (or Cancel Changes), Close and Help.
void CProfilesDlg::BuildControls() {
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("1012"));
    m_list->setAccessibleName(QStringLiteral("Profiles"));
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSortingEnabled(false);

    m_newButton = AddButton("1022", QStringLiteral("&New Profile"));
    m_newLabel = new QLabel(QStringLiteral("New Profile:"), this);
    m_newLabel->setObjectName(QStringLiteral("1029"));
    m_newLabel->setAccessibleName(QStringLiteral("New Profile:"));
    m_deleteButton = AddButton("1023", QStringLiteral("&Delete Profile"));
    m_activeBox = AddCheckBox("1031", QStringLiteral("Active Profile"));
    auto* note = new QLabel(QStringLiteral("(Required fields indicated by *)"), this);
    note->setAccessibleName(note->text());

    m_nameEdit = AddEdit("1016", QStringLiteral("Profile Name"));
    m_addressEdit = AddEdit("1017", QStringLiteral("FTP Address"));
    m_anonymousBox = AddCheckBox("1013", QStringLiteral("Anonymous (No User ID or Password)"));
    m_userEdit = AddEdit("1018", QStringLiteral("User ID"));
    m_passwordEdit = AddEdit("1019", QStringLiteral("Password"));
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    m_initialDirEdit = AddEdit("1020", QStringLiteral("Initial Directory"));
    m_commentEdit = AddEdit("1021", QStringLiteral("Comment"));
    m_defaultBox =
        AddCheckBox("1030", QStringLiteral("Default Profile (active when program starts)"));
    m_userLabel = MakeLabel(this, QStringLiteral("* User ID"), m_userEdit);
    m_userLabel->setObjectName(QStringLiteral("1027"));
    m_passwordLabel = MakeLabel(this, QStringLiteral("* Password"), m_passwordEdit);
    m_passwordLabel->setObjectName(QStringLiteral("1028"));

    m_addButton = AddButton("1014", QStringLiteral("&Add Profile"));
    m_cancelButton = AddButton("1015", QStringLiteral("&Cancel Changes"));
    m_closeButton = AddButton("1011", QStringLiteral("C&lose"));
    m_helpButton = AddButton("1066", QStringLiteral("&Help"));
    m_closeButton->setDefault(true);

    auto* top = new QGridLayout;
    top->addWidget(m_newButton, 0, 0); // the two share one place
    top->addWidget(m_newLabel, 0, 0);
    top->addWidget(m_deleteButton, 0, 1);

    auto* fields = new QGridLayout;
    int row = 0;
    fields->addWidget(m_activeBox, row++, 0, 1, 2);
    fields->addWidget(note, row++, 0, 1, 2);
    fields->addWidget(MakeLabel(this, QStringLiteral("* Profile Name :"), m_nameEdit), row, 0);
    fields->addWidget(m_nameEdit, row++, 1);
    fields->addWidget(MakeLabel(this, QStringLiteral("* FTP Address:"), m_addressEdit), row, 0);
    fields->addWidget(m_addressEdit, row++, 1);
    fields->addWidget(m_anonymousBox, row++, 0, 1, 2);
    fields->addWidget(m_userLabel, row, 0);
    fields->addWidget(m_userEdit, row++, 1);
    fields->addWidget(m_passwordLabel, row, 0);
    fields->addWidget(m_passwordEdit, row++, 1);
    fields->addWidget(MakeLabel(this, QStringLiteral("Initial Directory:"), m_initialDirEdit), row,
                      0);
    fields->addWidget(m_initialDirEdit, row++, 1);
    fields->addWidget(MakeLabel(this, QStringLiteral("Comment:"), m_commentEdit), row, 0);
    fields->addWidget(m_commentEdit, row++, 1);
    fields->addWidget(m_defaultBox, row++, 0, 1, 2);

    auto* buttons = new QGridLayout;
    buttons->addWidget(m_addButton, 0, 0); // the two share one place
    buttons->addWidget(m_cancelButton, 0, 0);
    buttons->addWidget(m_closeButton, 0, 1);
    buttons->addWidget(m_helpButton, 0, 2);

    auto* right = new QVBoxLayout;
    right->addLayout(top);
    right->addLayout(fields);
    right->addStretch(1);
    right->addLayout(buttons);

    auto* main = new QHBoxLayout(this);
    main->addWidget(m_list, 2);
    main->addLayout(right, 3);
    resize(520, 351);

    for (QLineEdit* edit :
         {m_nameEdit, m_addressEdit, m_userEdit, m_passwordEdit, m_initialDirEdit, m_commentEdit}) {
        edit->setMaxLength(kMaxFieldLength);
        // Shortening a long text read from the file lowers its limit with it.
        connect(edit, &QLineEdit::textEdited, edit, [edit](const QString& text) {
            edit->setMaxLength(std::max(kMaxFieldLength, int(text.size())));
        });
    }
    // The controls that change with the mode keep their place when hidden, so
    // that nothing else moves between the two modes.
    for (QWidget* w : {static_cast<QWidget*>(m_newButton), static_cast<QWidget*>(m_newLabel),
                       static_cast<QWidget*>(m_deleteButton), static_cast<QWidget*>(m_addButton),
                       static_cast<QWidget*>(m_cancelButton)}) {
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
    }
    m_addButton->hide();
    m_newLabel->hide();

    connect(m_list, &QListWidget::itemSelectionChanged, this, &CProfilesDlg::OnSelChangeList);
    connect(m_newButton, &QPushButton::clicked, this, &CProfilesDlg::OnNewProfile);
    connect(m_addButton, &QPushButton::clicked, this, &CProfilesDlg::OnAddProfile);
    connect(m_cancelButton, &QPushButton::clicked, this, &CProfilesDlg::OnCancelChanges);
    connect(m_anonymousBox, &QCheckBox::clicked, this, &CProfilesDlg::OnAnonymous);
    connect(m_deleteButton, &QPushButton::clicked, this, &CProfilesDlg::OnDeleteProfile);
    connect(m_defaultBox, &QCheckBox::clicked, this, &CProfilesDlg::OnDefault);
    connect(m_activeBox, &QCheckBox::clicked, this, &CProfilesDlg::OnActive);
    connect(m_closeButton, &QPushButton::clicked, this, &CProfilesDlg::OnClose);
    connect(m_helpButton, &QPushButton::clicked, this, &CProfilesDlg::OnHelp);
}

void CProfilesDlg::OnInitDialog() {
    m_skipStoreOnce = true;
    LoadList();
    m_list->setFocus();
    SelectListRow(m_selected);
    ShowSelected();
}

// The active marks come from the application's active profile index, not from
// the file. A file that yields no profile, or none at that index, is one we did
// not write: the dialog still gets a valid list and a valid active profile.
void CProfilesDlg::LoadList() {
    m_profiles.clear();
    ProfileListLoad load = LoadProfileList(m_app->m_profileFilePath);
    m_fileDamaged = load.opened && load.damaged;
    m_profiles = std::move(load.profiles);
    m_keyringKeys = TakeKeyringPasswords(m_profiles, this);
    if (m_profiles.empty()) {
        CProfile current = m_app->Site().Profile();
        current.m_default = 1;
        m_profiles.push_back(current);
    }
    const int count = static_cast<int>(m_profiles.size());
    if (m_app->Site().ProfileIndex() < 0 || m_app->Site().ProfileIndex() >= count)
        MakeActiveInApp(0);
    m_selected = m_app->Site().ProfileIndex();
    for (int i = 0; i < count; ++i) {
        m_profiles[i].m_active = i == m_selected ? 1 : 0;
        m_list->addItem(m_profiles[i].m_name);
    }
    if (m_fileDamaged)
        MessageBox(this,
                   QStringLiteral("The profile file is damaged. Only the profiles that could be "
                                  "read are shown; a copy of the damaged file is kept when this "
                                  "dialog closes."),
                   QStringLiteral("Damaged Profile File"), MB_OK | MB_ICONHAND);
}

void CProfilesDlg::ShowValues() {
    ShowWhole(m_nameEdit, m_shown.m_name);
    ShowWhole(m_addressEdit, m_shown.m_address);
    m_anonymousBox->setChecked(m_shown.m_anonymous != 0);
    ShowWhole(m_userEdit, m_shown.m_userId);
    ShowWhole(m_passwordEdit, m_shown.m_password);
    ShowWhole(m_initialDirEdit, m_shown.m_initialDir);
    ShowWhole(m_commentEdit, m_shown.m_comment);
    m_defaultBox->setChecked(m_shown.m_default != 0);
    m_activeBox->setChecked(m_shown.m_active != 0);
}

void CProfilesDlg::TakeValues() {
    m_shown.m_name = Taken(m_nameEdit, m_shown.m_name);
    m_shown.m_address = Taken(m_addressEdit, m_shown.m_address);
    m_shown.m_anonymous = m_anonymousBox->isChecked() ? 1 : 0;
    m_shown.m_userId = Taken(m_userEdit, m_shown.m_userId);
    m_shown.m_password = Taken(m_passwordEdit, m_shown.m_password);
    m_shown.m_initialDir = Taken(m_initialDirEdit, m_shown.m_initialDir);
    m_shown.m_comment = Taken(m_commentEdit, m_shown.m_comment);
    m_shown.m_default = m_defaultBox->isChecked() ? 1 : 0;
    m_shown.m_active = m_activeBox->isChecked() ? 1 : 0;
}

void CProfilesDlg::SetEditModeControls() {
    m_newLabel->hide();
    m_newButton->show();
    m_deleteButton->setVisible(m_profiles.size() != 1);
    m_addButton->hide();
    m_cancelButton->show();
}

void CProfilesDlg::SetNewModeControls() {
    m_newButton->hide();
    m_newLabel->show();
    m_deleteButton->hide();
    m_cancelButton->hide();
    m_addButton->show();
}

// An anonymous login has neither user ID nor password: the two are locked and no
// longer marked required.
void CProfilesDlg::ApplyAnonymous(bool anonymous) {
    m_userEdit->setReadOnly(anonymous);
    m_passwordEdit->setReadOnly(anonymous);
    m_userLabel->setText(anonymous ? QStringLiteral("User ID") : QStringLiteral("* User ID"));
    m_passwordLabel->setText(anonymous ? QStringLiteral("Password") : QStringLiteral("* Password"));
    m_userLabel->setAccessibleName(m_userLabel->text());
    m_passwordLabel->setAccessibleName(m_passwordLabel->text());
}

// Selections the dialog makes itself must not look like the user's.
void CProfilesDlg::SelectListRow(int row) {
    const QSignalBlocker block(m_list);
    m_list->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
}

void CProfilesDlg::ClearListSelection() {
    const QSignalBlocker block(m_list);
    m_list->clearSelection();
    m_list->setCurrentRow(-1);
}

int CProfilesDlg::ListSelection() const {
    const QList<QListWidgetItem*> selected = m_list->selectedItems();
    return selected.isEmpty() ? -1 : m_list->row(selected.first());
}

void CProfilesDlg::MakeActiveInApp(int index) {
    const CProfile& profile = m_profiles[index];
    CProfile active = m_app->Site().Profile();
    active.m_name = profile.m_name;
    active.m_address = profile.m_address;
    active.m_anonymous = profile.m_anonymous;
    active.m_userId = profile.m_userId;
    active.m_password = profile.m_password;
    active.m_initialDir = profile.m_initialDir;
    active.m_comment = profile.m_comment;
    m_app->Site().SetActiveProfile(active, index);
}
