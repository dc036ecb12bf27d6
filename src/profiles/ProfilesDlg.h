#pragma once

#include <QDialog>
#include <QStringList>
#include <vector>

#include "Profile.h"

class CVelmarApp;
class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// The editor of the site profiles. It works on the whole list in memory, makes a
// profile stored as active the application's active profile at once, and writes
// the list back to the profile file when it closes.
//
// Edit mode shows the selected profile; leaving it (another selection, closing)
// stores the edits. New mode shows empty fields for a profile that joins the list
// only through Add Profile.
class CProfilesDlg : public QDialog {
    Q_OBJECT
public:
    enum { IDD = 180 };

    explicit CProfilesDlg(QWidget* parent = nullptr);

    // The handlers, public so that the frame's tests and ours can run them
    // exactly as a click does.
    void OnSelChangeList();
    void OnNewProfile();
    void OnAddProfile();
    void OnCancelChanges();
    void OnAnonymous();
    void OnDefault();
    void OnActive();
    void OnDeleteProfile();
    void OnClose();
    void OnHelp();

    void ShowSelected();
    bool StoreShown();

    const std::vector<CProfile>& Profiles() const { return m_profiles; }
    int SelectedIndex() const { return m_selected; }
    bool IsNewMode() const { return m_newMode; }

    // Enter, Escape and the window's close box all end up here.
    void accept() override;
    void reject() override;

private:
    void BuildControls();
    QLineEdit* AddEdit(const char* id, const QString& accessibleName);
    QPushButton* AddButton(const char* id, const QString& text);
    QCheckBox* AddCheckBox(const char* id, const QString& text);
    void OnInitDialog();
    void LoadList();
    void ShowValues();
    void TakeValues();
    void SetEditModeControls();
    void SetNewModeControls();
    void ApplyAnonymous(bool anonymous);
    void SelectListRow(int row);
    void ClearListSelection();
    int ListSelection() const;
    void MakeActiveInApp(int index);
    bool SaveList();

    CVelmarApp* m_app = nullptr;
    std::vector<CProfile> m_profiles;
    int m_selected = 0;
    bool m_newMode = false;
    bool m_skipStoreOnce = false;
    bool m_fileDamaged = false;
    QStringList m_keyringKeys; // the keyring entries the list was read with
    CProfile m_shown; // the values exchanged with the controls
    CProfile m_work;

    QListWidget* m_list = nullptr;
    QPushButton* m_newButton = nullptr;
    QLabel* m_newLabel = nullptr;
    QPushButton* m_deleteButton = nullptr;
    QCheckBox* m_activeBox = nullptr;
    QLineEdit* m_nameEdit = nullptr;
    QLineEdit* m_addressEdit = nullptr;
    QCheckBox* m_anonymousBox = nullptr;
    QLabel* m_userLabel = nullptr;
    QLineEdit* m_userEdit = nullptr;
    QLabel* m_passwordLabel = nullptr;
    QLineEdit* m_passwordEdit = nullptr;
    QLineEdit* m_initialDirEdit = nullptr;
    QLineEdit* m_commentEdit = nullptr;
    QCheckBox* m_defaultBox = nullptr;
    QPushButton* m_addButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QPushButton* m_closeButton = nullptr;
    QPushButton* m_helpButton = nullptr;
};
