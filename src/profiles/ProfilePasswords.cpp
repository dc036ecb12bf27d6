#include "ProfilePasswords.h"

#include <QHash>
#include <QSet>
#include <algorithm>

#include "MessageBox.h"
#include "PasswordVault.h"
#include "ProfileFile.h"
#include "Registry.h"
#include "VelmarApp.h"

namespace {
const QString kCaption = QStringLiteral("Desktop Keyring");

bool HasLogin(const CProfile& profile) {
    return profile.m_anonymous == 0;
}

bool KeyringChosen() {
    return settings::KeyringPasswords().value_or(false);
}

void TellSilent(QWidget* owner) {
    MessageBox(owner,
               QStringLiteral("The desktop keyring did not answer, or it is locked. Until "
                              "Velmar98 starts again with the keyring unlocked, the passwords "
                              "kept there cannot be read, and the passwords you save are kept "
                              "in the profile file."),
               kCaption, MB_OK | MB_ICONEXCLAMATION);
}

void TellUnreadable(QWidget* owner) {
    MessageBox(owner,
               QStringLiteral("The profile file could not be read whole, so no password was "
                              "moved. Open the Profiles dialog to repair it first."),
               kCaption, MB_OK | MB_ICONHAND);
}

void TellSaveFailed(QWidget* owner) {
    MessageBox(owner, QStringLiteral("The program was unable to save the profile file."),
               QStringLiteral("Error Saving Profiles"), MB_OK | MB_ICONHAND);
}

// The choice is made once: the first time a password is saved while a keyring
// runs. Only a choice that could be written counts, since the next start must
// find it to know where to look for the passwords.
bool UseKeyring(const std::vector<CProfile>& profiles, QWidget* owner) {
    if (const auto chosen = settings::KeyringPasswords())
        return *chosen;
    const bool anyPassword = std::any_of(profiles.begin(), profiles.end(),
                                         [](const CProfile& p) { return !p.m_password.isEmpty(); });
    if (!anyPassword || !vault::ServiceRunning() || !vault::Answers())
        return false;
    const bool yes =
        MessageBox(owner,
                   QStringLiteral("Keep the profiles' passwords in the desktop keyring instead "
                                  "of the profile file?\n\nYou can change this later under "
                                  "Options."),
                   kCaption, MB_YESNO | MB_ICONQUESTION) == IDYES;
    return settings::SetKeyringPasswords(yes) && yes;
}

// The list as the file is to hold it: each password the keyring confirmed is
// emptied. Two profiles with one key and different passwords share no entry:
// the second keeps its password in the file.
std::vector<CProfile> StoreInKeyring(const std::vector<CProfile>& profiles) {
    std::vector<CProfile> onFile = profiles;
    QHash<QString, QString> stored;
    for (CProfile& profile : onFile) {
        if (profile.m_password.isEmpty())
            continue;
        const QString key = vault::KeyOf(profile);
        const auto earlier = stored.constFind(key);
        if (earlier != stored.cend()) {
            if (*earlier == profile.m_password)
                profile.m_password.clear();
            continue;
        }
        if (vault::Store(key, profile.m_password) != vault::Outcome::Ok)
            break;
        stored.insert(key, profile.m_password);
        profile.m_password.clear();
    }
    return onFile;
}

// False when the keyring stopped answering: what was filled until then stays.
bool FillFromKeyring(std::vector<CProfile>& profiles, QStringList* found) {
    for (CProfile& profile : profiles) {
        if (!HasLogin(profile) || !profile.m_password.isEmpty())
            continue;
        const QString key = vault::KeyOf(profile);
        QString password;
        const vault::Outcome outcome = vault::Fetch(key, &password);
        if (outcome == vault::Outcome::Unavailable)
            return false;
        if (outcome == vault::Outcome::Ok) {
            profile.m_password = password;
            found->append(key);
        }
    }
    return true;
}

void RemoveUnused(const QStringList& readKeys, const std::vector<CProfile>& profiles) {
    QSet<QString> used;
    for (const CProfile& profile : profiles)
        if (HasLogin(profile))
            used.insert(vault::KeyOf(profile));
    for (const QString& key : readKeys)
        if (!used.contains(key))
            vault::Remove(key);
}
} // namespace

void TellKeyringSilentOnce(QWidget* owner) {
    if (vault::TakeSilenceNotice())
        TellSilent(owner);
}

QStringList TakeKeyringPasswords(std::vector<CProfile>& profiles, QWidget* owner) {
    QStringList found;
    if (KeyringChosen())
        FillFromKeyring(profiles, &found);
    TellKeyringSilentOnce(owner);
    return found;
}

void TakeActiveProfilePassword(CVelmarApp& app) {
    std::vector<CProfile> active{app.Site().Profile()};
    if (!TakeKeyringPasswords(active, nullptr).isEmpty())
        app.Site().SetActiveProfile(active.front(), app.Site().ProfileIndex());
}

bool SaveProfilesWithPasswords(const QString& path, const std::vector<CProfile>& profiles,
                               const QStringList& readKeys, QWidget* owner) {
    if (!UseKeyring(profiles, owner))
        return SaveProfileList(path, profiles);
    const std::vector<CProfile> onFile = StoreInKeyring(profiles);
    const bool saved = SaveProfileList(path, onFile);
    // An entry is dropped only when the saved file no longer needs it.
    if (saved)
        RemoveUnused(readKeys, profiles);
    TellKeyringSilentOnce(owner);
    return saved;
}

bool MovePasswordsToKeyring(const QString& path, QWidget* owner) {
    const ProfileListLoad load = LoadProfileList(path);
    if (load.opened && load.damaged) {
        TellUnreadable(owner);
        return false;
    }
    if (!vault::Answers()) {
        TellSilent(owner);
        return false;
    }
    // On before the file changes: a setting that is on over passwords still in
    // the file reads them as before, while emptied fields with the setting off
    // would hide the passwords from the next start.
    if (!settings::SetKeyringPasswords(true)) {
        CVelmarApp::ReportRegistryError();
        return false;
    }
    const std::vector<CProfile> onFile = StoreInKeyring(load.profiles);
    if (onFile != load.profiles && !SaveProfileList(path, onFile))
        TellSaveFailed(owner);
    if (vault::Silent())
        TellSilent(owner);
    return true;
}

bool MovePasswordsToFile(const QString& path, QWidget* owner) {
    if (MessageBox(owner,
                   QStringLiteral("Write the passwords kept in the desktop keyring back to the "
                                  "profile file? They will be stored there in plain text."),
                   kCaption, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return false;
    const ProfileListLoad load = LoadProfileList(path);
    if (load.opened && load.damaged) {
        TellUnreadable(owner);
        return false;
    }
    std::vector<CProfile> onFile = load.profiles;
    QStringList found;
    vault::Recheck(); // locked since it last answered, it would read as empty
    if (!FillFromKeyring(onFile, &found)) {
        TellSilent(owner);
        return false;
    }
    if (onFile != load.profiles && !SaveProfileList(path, onFile)) {
        TellSaveFailed(owner);
        return false;
    }
    // Off only once the file holds the passwords; the entries go last.
    if (!settings::SetKeyringPasswords(false)) {
        CVelmarApp::ReportRegistryError();
        return false;
    }
    for (const QString& key : found)
        vault::Remove(key);
    return true;
}
