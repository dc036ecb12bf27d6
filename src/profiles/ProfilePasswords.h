#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "Profile.h"

class CVelmarApp;
class QWidget;

// Where the profiles' passwords live: in the profile file, or, when the user
// chose so, in the desktop keyring with an empty password field in the file.
// A profile whose field is empty takes the keyring's password; one whose field
// holds a password uses it, as files written before the keyring or by another
// program do. Nothing here removes a password from one place before the other
// has confirmed that it holds it.

// Fills the empty password of every profile with a login from the keyring,
// when the passwords are kept there. Returns the keys of the entries found: the
// entries the list held when it was read.
QStringList TakeKeyringPasswords(std::vector<CProfile>& profiles, QWidget* owner);

// The active profile's password at start-up.
void TakeActiveProfilePassword(CVelmarApp& app);

// Saves the list as the Profiles dialog closes. With the keyring in use, each
// password goes there and its field is emptied once the keyring confirmed it;
// then, with the file saved, the entries of `readKeys` that no profile of the
// list uses any more (a profile deleted or renamed) are removed. While the
// choice is still open and a keyring runs, asks the user first.
bool SaveProfilesWithPasswords(const QString& path, const std::vector<CProfile>& profiles,
                               const QStringList& readKeys, QWidget* owner);

// Turning the setting on: the file's passwords move into the keyring, each
// emptied in the file only once the keyring holds it. False when the setting
// could not be turned on.
bool MovePasswordsToKeyring(const QString& path, QWidget* owner);

// Turning it off, after a question: the keyring's passwords are written back to
// the file, and their entries removed once the file holds them. False when the
// setting stays on.
bool MovePasswordsToFile(const QString& path, QWidget* owner);

// Tells the user, once per run, that the keyring did not answer.
void TellKeyringSilentOnce(QWidget* owner);
