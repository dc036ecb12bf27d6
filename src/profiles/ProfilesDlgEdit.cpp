// The Profiles dialog's editing: showing and storing a profile, the two modes,
// deleting, and closing with the list save.
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>

#include "HelpWindow.h"
#include "MessageBox.h"
#include "ProfileFile.h"
#include "ProfilePasswords.h"
#include "ProfilesDlg.h"
#include "VelmarApp.h"
#include "WaitCursor.h"

namespace {
// The damaged file goes to the first free name, so an older copy is never lost.
bool KeepDamagedCopy(const QString& path) {
    for (int n = 1; n <= 100; ++n) {
        QString copy = path + QStringLiteral(".damaged");
        if (n > 1)
            copy += QLatin1Char('-') + QString::number(n);
        if (QFile::exists(copy))
            continue;
        return QFile::copy(path, copy);
    }
    return false;
}
} // namespace

void CProfilesDlg::OnSelChangeList() {
    ShowSelected();
}

void CProfilesDlg::ShowSelected() {
    if (m_skipStoreOnce)
        m_skipStoreOnce = false;
    else if (!m_newMode && !StoreShown())
        return;
    if (ListSelection() < 0)
        SelectListRow(m_selected);
    m_selected = ListSelection();
    m_work = m_profiles[m_selected];
    m_shown = m_work;
    ShowValues();
    SetEditModeControls();
    m_newMode = false;
    ApplyAnonymous(m_anonymousBox->isChecked());
}

bool CProfilesDlg::StoreShown() {
    TakeValues();
    const bool complete = !m_shown.m_name.isEmpty() && !m_shown.m_address.isEmpty() &&
                          (m_shown.m_anonymous != 0 ||
                           (!m_shown.m_userId.isEmpty() && !m_shown.m_password.isEmpty()));
    if (!complete) {
        // In new mode the list has no selection and keeps none: selecting the
        // old profile would show it as chosen while the new one is still edited.
        if (!m_newMode)
            SelectListRow(m_selected);
        MessageBox(this, QStringLiteral("You must complete all required fields (indicated by *)."),
                   QStringLiteral("Incomplete Profile"), MB_OK | MB_ICONHAND);
        return false;
    }
    if (m_shown.m_default)
        for (CProfile& profile : m_profiles)
            profile.m_default = 0;
    if (m_shown.m_active)
        for (CProfile& profile : m_profiles)
            profile.m_active = 0;
    m_work = m_shown;

    int stored = m_selected;
    if (m_newMode) {
        m_profiles.push_back(m_work);
        m_list->addItem(m_work.m_name);
        stored = static_cast<int>(m_profiles.size()) - 1;
        SelectListRow(stored);
        ShowSelected();
        m_newMode = false;
    } else {
        m_profiles[stored] = m_work;
        m_list->item(stored)->setText(m_work.m_name);
    }
    if (m_work.m_active)
        MakeActiveInApp(stored);
    return true;
}

void CProfilesDlg::OnNewProfile() {
    SetNewModeControls();
    ApplyAnonymous(false);
    ClearListSelection();
    m_shown = CProfile{};
    ShowValues();
    m_nameEdit->setFocus();
    m_newMode = true;
}

void CProfilesDlg::OnAddProfile() {
    if (m_newMode)
        StoreShown();
}

void CProfilesDlg::OnCancelChanges() {
    if (m_newMode)
        return;
    m_skipStoreOnce = true;
    ShowSelected();
}

void CProfilesDlg::OnAnonymous() {
    const bool anonymous = m_anonymousBox->isChecked();
    if (anonymous) {
        m_userEdit->clear();
        m_passwordEdit->clear();
    }
    ApplyAnonymous(anonymous);
}

// A mark is given up only by giving it to another profile.
void CProfilesDlg::OnDefault() {
    if (!m_defaultBox->isChecked())
        m_defaultBox->setChecked(true);
}

void CProfilesDlg::OnActive() {
    if (!m_activeBox->isChecked())
        m_activeBox->setChecked(true);
}

void CProfilesDlg::OnDeleteProfile() {
    if (m_newMode || m_profiles.size() < 2)
        return;
    if (MessageBox(this, QStringLiteral("Are you sure you want to delete this Profile?"),
                   QStringLiteral("Confirm Delete Profile"), MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
        return;
    const int removed = m_selected;
    const CProfile gone = m_profiles[removed];
    m_profiles.erase(m_profiles.begin() + removed);
    {
        const QSignalBlocker block(m_list);
        delete m_list->takeItem(removed);
    }
    int d = removed;
    if (d == static_cast<int>(m_profiles.size()))
        --d;
    SelectListRow(d);
    m_selected = d;
    if (gone.m_default)
        m_profiles[d].m_default = 1;
    if (gone.m_active) {
        m_profiles[d].m_active = 1;
        MakeActiveInApp(d);
    } else if (removed < m_app->Site().ProfileIndex()) {
        m_app->Site().SetProfileIndex(m_app->Site().ProfileIndex() - 1);
    }
    m_skipStoreOnce = true;
    ShowSelected();
}

void CProfilesDlg::OnClose() {
    if (!m_newMode) {
        TakeValues();
        if (!m_shown.m_active && MessageBox(this,
                                            QStringLiteral("Would you like '") + m_shown.m_name +
                                                QStringLiteral("' to be the Active Profile?"),
                                            QStringLiteral("Confirm Active Profile Selection"),
                                            MB_YESNO | MB_ICONQUESTION) == IDYES) {
            m_shown.m_active = 1;
            m_activeBox->setChecked(true);
        }
        if (!StoreShown())
            return;
    }
    CWaitCursor wait;
    if (!SaveList())
        MessageBox(this, QStringLiteral("The program was unable to save the profile file."),
                   QStringLiteral("Error Saving Profiles"), MB_OK | MB_ICONHAND);
    m_app->Site().RequestRebuild();
    QDialog::done(QDialog::Accepted);
}

// A damaged file is copied aside before it is replaced, so the part we could not
// read is still there for whoever wants to recover it.
bool CProfilesDlg::SaveList() {
    const QString& path = m_app->m_profileFilePath;
    if (m_fileDamaged) {
        if (!KeepDamagedCopy(path))
            return false;
        m_fileDamaged = false;
    }
    return SaveProfilesWithPasswords(path, m_profiles, m_keyringKeys, this);
}

void CProfilesDlg::accept() {
    OnClose();
}
void CProfilesDlg::reject() {
    OnClose();
}

void CProfilesDlg::OnHelp() {
    WinHelp(this, m_app->m_startupDir + QStringLiteral("Velmar98.hlp"), HELP_CONTEXT,
            HELP_CONTEXT_PROFILES);
}
