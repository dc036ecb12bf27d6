#pragma once

#include <QString>
#include <memory>
#include <optional>

class QSettings;

// A small registry over an INI file in the user's configuration folder. The key
// path "SOFTWARE\Velmar98a" becomes the group "SOFTWARE/Velmar98a". Every step can
// fail as the real thing can: a missing key, a missing value, a file that cannot
// be written. Tests can also make the next call of one kind fail.
class CRegKey {
public:
    enum class Op { Open, Create, Query, Set, Close };

    CRegKey();
    ~CRegKey();
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;

    // The file that holds every key: $XDG_CONFIG_HOME/Velmar98/registry.ini.
    static QString StoreFilePath();

    // Opens an existing key (one that holds at least one value).
    bool Open(const QString& keyPath);
    // Creates the key (and the store file) if needed and opens it.
    bool Create(const QString& keyPath);
    // Reads a text into at most maxChars - 1 characters (a buffer of maxChars with
    // its terminating zero); longer stored texts are cut.
    bool QueryString(const QString& name, QString* value, int maxChars = 52);
    bool QueryDword(const QString& name, qint32* value);
    bool SetString(const QString& name, const QString& value);
    bool SetDword(const QString& name, qint32 value);
    bool Close();
    bool IsOpen() const { return m_settings != nullptr; }

    // Makes the next call of the given kind fail (tests only).
    static void FailNext(Op op);
    static void ClearFailures();

private:
    bool TakeFailure(Op op);
    QString ValueKey(const QString& name) const;

    std::unique_ptr<QSettings> m_settings;
    QString m_group;
};

// The program's settings key, and the settings of the Options dialog kept in it.
// A setting that was never chosen reads as unset, so that the program can ask
// the first time it matters.
inline constexpr const char* kProgramKeyPath = "SOFTWARE\\Velmar98a";

namespace settings {
// Whether the profiles' passwords are kept in the desktop keyring (value
// "KeyringPasswords", 1 or 0) rather than in the profile file.
std::optional<bool> KeyringPasswords();
bool SetKeyringPasswords(bool on);
// How many files a copy moves at once (value "Transfers"), 1 to 10; a value that
// is missing, out of range or unreadable reads as 4.
inline constexpr int kMinTransfers = 1;
inline constexpr int kMaxTransfers = 10;
inline constexpr int kDefaultTransfers = 4;
int Transfers();
bool SetTransfers(int transfers);
} // namespace settings
