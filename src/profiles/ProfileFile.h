#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

#include "Profile.h"

class QIODevice;
class CVelmarApp;

// The profile file: a 32-bit little-endian count, then each profile's nine fields
// in record order. Texts carry the archive-style length prefix (1 byte, 0xFF + 2
// bytes, or 0xFF 0xFFFF + 4 bytes) followed by their bytes. We write UTF-8; on
// reading we take UTF-8 and fall back to Windows-1252, so files made by the old
// Windows program still read, and we accept the 16-bit character form too.

// The longest text we take from a file. The dialog makes texts of at most 100
// characters; anything near this size is damage, not a host name.
constexpr qint64 kMaxProfileTextBytes = 16 * 1024 * 1024;

void WriteProfileInt32(QByteArray& out, qint32 value);
void WriteProfileString(QByteArray& out, const QString& text);
void WriteProfileRecord(QByteArray& out, const CProfile& profile);
QByteArray EncodeProfileFile(const std::vector<CProfile>& profiles);

// UTF-8 when the bytes are valid UTF-8, Windows-1252 otherwise.
QString DecodeProfileText(const QByteArray& bytes);

// Reads the file's fields through its own buffer. Nothing read from the file is
// trusted: a length that runs past the end of the data fails the read before
// anything is allocated for it, and every failure is sticky.
class CProfileReader {
public:
    explicit CProfileReader(QIODevice& device);

    bool ReadInt32(qint32& value);
    bool ReadString(QString& text);
    bool ReadProfile(CProfile& profile);
    bool Failed() const { return m_failed; }

private:
    bool ReadRaw(char* dest, qint64 count);
    bool ReadBytes(QByteArray& dest, qint64 count);
    bool ReadLength(quint32& length, bool* wide);
    bool Fail();
    qint64 Available() const;

    QIODevice& m_device;
    QByteArray m_buffer;
    qint64 m_bufferPos = 0;
    bool m_failed = false;
};

struct ProfileListLoad {
    bool opened = false;  // the file could be opened for reading
    bool damaged = false; // it ended before its count, or its count is below 1
    std::vector<CProfile> profiles;
};

// The profile used when there is no profile file yet.
CProfile SampleProfile();

// Every complete record of the file, in file order, active flags as stored.
ProfileListLoad LoadProfileList(const QString& path);

// Replaces the file with the list: written to a temporary file in the same
// folder, flushed, then renamed over the old one, readable by the owner only
// (the passwords are in plain text). On failure the old file is untouched.
bool SaveProfileList(const QString& path, const std::vector<CProfile>& profiles);

// The start-up step that finds the active profile: the first profile marked
// default. Creates the file with the sample profile when there is none. A login
// whose password field is empty takes its password from the desktop keyring.
bool LoadProfilesAtStartup(CVelmarApp& app);
