#include "OptionsDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

#include "MessageBox.h"
#include "ProfilePasswords.h"
#include "Registry.h"
#include "VelmarApp.h"
#include "WaitCursor.h"

COptionsDlg::COptionsDlg(CVelmarApp* app, QWidget* parent) : QDialog(parent), m_app(app) {
    setObjectName(QStringLiteral("optionsDialog"));
    setWindowTitle(QStringLiteral("Velmar98 Options"));
    setAccessibleName(windowTitle());
    auto* layout = new QVBoxLayout(this);
    m_rows = new QVBoxLayout;
    layout->addLayout(m_rows);

    m_keyring = new QCheckBox(QStringLiteral("Keep passwords in the desktop keyring"), this);
    m_keyring->setObjectName(QStringLiteral("keyringPasswords"));
    m_keyring->setAccessibleName(m_keyring->text());
    m_keyringWas = settings::KeyringPasswords().value_or(false);
    m_keyring->setChecked(m_keyringWas);
    AddSetting(m_keyring,
               QStringLiteral("The profiles' passwords are kept in the desktop keyring (GNOME "
                              "Keyring, KWallet or another Secret Service) instead of in plain "
                              "text in the profile file. Turning this on moves the passwords "
                              "there; turning it off writes them back to the profile file. When "
                              "the keyring is locked or missing, the passwords stay in the "
                              "file."));

    AddTransfersRow();

    layout->addStretch(1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &COptionsDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &COptionsDlg::reject);
    layout->addWidget(buttons);
    resize(440, sizeHint().height());
}

void COptionsDlg::AddTransfersRow() {
    auto* row = new QWidget(this);
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(QStringLiteral("Files copied at &once:"), row);
    m_transfers = new QSpinBox(row);
    m_transfers->setObjectName(QStringLiteral("transfers"));
    m_transfers->setAccessibleName(QStringLiteral("Files copied at once"));
    m_transfers->setRange(settings::kMinTransfers, settings::kMaxTransfers);
    m_transfers->setValue(settings::Transfers());
    label->setBuddy(m_transfers);
    line->addWidget(label);
    line->addWidget(m_transfers);
    line->addStretch(1);
    AddSetting(row,
               QStringLiteral("How many files a copy moves at the same time, from 1 to 10, "
                              "each over a connection of its own to the FTP server. Several at "
                              "once make a folder of many small files much quicker on a distant "
                              "server. A server that allows fewer connections is simply used "
                              "with those it allows."));
    m_transfers->setAccessibleDescription(row->accessibleDescription());
}

void COptionsDlg::AddSetting(QWidget* control, const QString& help) {
    auto* text = new QLabel(help, this);
    text->setWordWrap(true);
    text->setAccessibleName(help);
    // Indented under the control it explains.
    text->setContentsMargins(22, 0, 0, 8);
    control->setAccessibleDescription(help);
    m_rows->addWidget(control);
    m_rows->addWidget(text);
}

bool COptionsDlg::ApplyKeyring() {
    const bool wanted = m_keyring->isChecked();
    if (wanted == m_keyringWas)
        return true;
    CWaitCursor wait;
    const QString& path = m_app->m_profileFilePath;
    const bool done = wanted ? MovePasswordsToKeyring(path, this) : MovePasswordsToFile(path, this);
    m_keyringWas = done ? wanted : m_keyringWas;
    m_keyring->setChecked(m_keyringWas);
    return done;
}

bool COptionsDlg::ApplyTransfers() {
    const int wanted = m_transfers->value();
    if (wanted == settings::Transfers() || settings::SetTransfers(wanted))
        return true;
    MessageBox(this, QStringLiteral("The setting could not be saved."),
               QStringLiteral("Velmar98 Options"), MB_OK | MB_ICONHAND);
    m_transfers->setValue(settings::Transfers());
    return false;
}

void COptionsDlg::accept() {
    if (ApplyKeyring() && ApplyTransfers())
        QDialog::accept();
}
