#pragma once

#include <QDialog>

class CVelmarApp;
class QCheckBox;
class QSpinBox;
class QVBoxLayout;

// The program's settings that the user changes. Each setting is one row: its
// control and a short help text under it. OK applies each setting whose value
// changed; a setting that cannot be applied says why, shows its old value again
// and keeps the dialog open.
class COptionsDlg : public QDialog {
    Q_OBJECT
public:
    explicit COptionsDlg(CVelmarApp* app, QWidget* parent = nullptr);

    QCheckBox* KeyringBox() const { return m_keyring; }
    QSpinBox* TransfersBox() const { return m_transfers; }

    void accept() override;

private:
    void AddSetting(QWidget* control, const QString& help);
    void AddTransfersRow();
    bool ApplyKeyring();
    bool ApplyTransfers();

    CVelmarApp* m_app;
    QVBoxLayout* m_rows = nullptr;
    QCheckBox* m_keyring = nullptr;
    bool m_keyringWas = false;
    QSpinBox* m_transfers = nullptr;
};
