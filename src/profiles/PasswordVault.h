#pragma once

#include <QString>

#include "Profile.h"

// The desktop keyring (the Secret Service, reached through QtKeychain) as the
// profiles use it. No widgets here.
//
// QtKeychain answers asynchronously, and the callers are the steps of a save or
// a load that cannot go on without the answer. Each call therefore waits, on the
// interface thread, with user input held back, for at most WaitLimitMs(): long
// enough for the user to answer the keyring's own unlock prompt, short enough
// that a keyring that never answers costs one bounded pause. After a keyring
// has failed or fallen silent once, it is not asked again until the program
// starts again: every later call answers Unavailable at once.
namespace vault {

enum class Outcome { Ok, NotFound, Unavailable };

// The entry's key: the profile's user, address and name, each percent-encoded,
// so that two different profiles never share an entry.
QString KeyOf(const CProfile& profile);

// Whether a Secret Service is running on the session bus now (no start on
// demand): the one the user would be asked about.
bool ServiceRunning();

// Whether the keyring takes entries: found out once, by writing and removing an
// entry of our own. A locked keyring reads as empty, so only a write tells.
bool Answers();
// Forgets that the keyring answered, so that the next entry not found is checked
// again: before a step that would take a missing entry for a missing password.
void Recheck();

Outcome Store(const QString& key, const QString& password);
Outcome Fetch(const QString& key, QString* password);
// An entry that is not there counts as removed.
Outcome Remove(const QString& key);

// True the first time it is called after the keyring failed: the user is told
// once per run, however many profiles it concerns.
bool TakeSilenceNotice();
bool Silent();

int WaitLimitMs();
// Tests: a shorter bound, and a fresh start of the run's keyring state.
void SetWaitLimitMs(int ms);
void ResetSession();

} // namespace vault
