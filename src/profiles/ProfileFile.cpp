#include "ProfileFile.h"

#include "PrivateFile.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QtEndian>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ProfilePasswords.h"
#include "VelmarApp.h"

namespace {
constexpr qint64 kReadBufferSize = 4096;

// Windows-1252 at 0x80..0x9F; the rest of the code page is Latin-1. The five
// unassigned bytes map to the C1 controls of the same value, as Windows does.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString DecodeCp1252(const QByteArray& bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        text[i] = (b >= 0x80 && b < 0xA0) ? QChar(kCp1252High[b - 0x80]) : QChar(b);
    }
    return text;
}


void SyncFolder(const QByteArray& folder) {
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}
} // namespace

void WriteProfileInt32(QByteArray& out, qint32 value) {
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

void WriteProfileString(QByteArray& out, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    const qint64 length = bytes.size();
    if (length < 0xFF) {
        out.append(static_cast<char>(length));
    } else if (length < 0xFFFE) {
        char prefix[3] = {'\xFF', 0, 0};
        qToLittleEndian(static_cast<quint16>(length), prefix + 1);
        out.append(prefix, 3);
    } else {
        char prefix[7] = {'\xFF', '\xFF', '\xFF', 0, 0, 0, 0};
        qToLittleEndian(static_cast<quint32>(length), prefix + 3);
        out.append(prefix, 7);
    }
    out.append(bytes);
}

void WriteProfileRecord(QByteArray& out, const CProfile& profile) {
    WriteProfileString(out, profile.m_name);
    WriteProfileString(out, profile.m_address);
    WriteProfileInt32(out, profile.m_anonymous);
    WriteProfileString(out, profile.m_userId);
    WriteProfileString(out, profile.m_password);
    WriteProfileString(out, profile.m_initialDir);
    WriteProfileString(out, profile.m_comment);
    WriteProfileInt32(out, profile.m_default);
    WriteProfileInt32(out, profile.m_active);
}

QByteArray EncodeProfileFile(const std::vector<CProfile>& profiles) {
    QByteArray out;
    WriteProfileInt32(out, static_cast<qint32>(profiles.size()));
    for (const CProfile& profile : profiles)
        WriteProfileRecord(out, profile);
    return out;
}

QString DecodeProfileText(const QByteArray& bytes) {
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless |
                                                    QStringConverter::Flag::ConvertInitialBom);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    return DecodeCp1252(bytes);
}

CProfileReader::CProfileReader(QIODevice& device) : m_device(device) {}

bool CProfileReader::Fail() {
    m_failed = true;
    return false;
}

qint64 CProfileReader::Available() const {
    if (m_device.isSequential())
        return -1;
    return (m_buffer.size() - m_bufferPos) + std::max<qint64>(0, m_device.size() - m_device.pos());
}

bool CProfileReader::ReadRaw(char* dest, qint64 count) {
    if (m_failed)
        return false;
    while (count > 0) {
        if (m_bufferPos == m_buffer.size()) {
            m_buffer.resize(kReadBufferSize);
            const qint64 got = m_device.read(m_buffer.data(), kReadBufferSize);
            m_buffer.resize(std::max<qint64>(0, got));
            m_bufferPos = 0;
            if (got <= 0)
                return Fail();
        }
        const qint64 n = std::min(count, m_buffer.size() - m_bufferPos);
        std::memcpy(dest, m_buffer.constData() + m_bufferPos, static_cast<size_t>(n));
        m_bufferPos += n;
        dest += n;
        count -= n;
    }
    return true;
}

bool CProfileReader::ReadBytes(QByteArray& dest, qint64 count) {
    // Checked before the allocation: a damaged prefix can claim gigabytes.
    const qint64 available = Available();
    if (count > kMaxProfileTextBytes || (available >= 0 && count > available))
        return Fail();
    dest.resize(count);
    return ReadRaw(dest.data(), count);
}

bool CProfileReader::ReadInt32(qint32& value) {
    char bytes[4];
    if (!ReadRaw(bytes, 4))
        return false;
    value = qFromLittleEndian<qint32>(bytes);
    return true;
}

// The prefix: a byte below 0xFF is the length; else a 16-bit value below 0xFFFF
// is; else a 32-bit value follows. Where a text may start, 0xFF 0xFFFE instead
// announces 16-bit characters, counted by a second prefix.
bool CProfileReader::ReadLength(quint32& length, bool* wide) {
    char b = 0;
    if (!ReadRaw(&b, 1))
        return false;
    if (static_cast<unsigned char>(b) < 0xFF) {
        length = static_cast<unsigned char>(b);
        return true;
    }
    char w[2];
    if (!ReadRaw(w, 2))
        return false;
    const quint16 word = qFromLittleEndian<quint16>(w);
    if (wide && word == 0xFFFE) {
        *wide = true;
        return ReadLength(length, nullptr);
    }
    if (word < 0xFFFF) {
        length = word;
        return true;
    }
    char d[4];
    if (!ReadRaw(d, 4))
        return false;
    length = qFromLittleEndian<quint32>(d);
    return true;
}

namespace {
// A 16-bit text may hold halves of surrogate pairs that stand alone. They have no
// UTF-8 form, so the file we save would not read back as the text we showed:
// they become the replacement character when read.
void ReplaceLoneSurrogates(QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            text[i] = QChar(QChar::ReplacementCharacter);
    }
}
} // namespace

bool CProfileReader::ReadString(QString& text) {
    quint32 length = 0;
    bool wide = false;
    if (!ReadLength(length, &wide))
        return false;
    QByteArray bytes;
    if (!ReadBytes(bytes, wide ? 2 * qint64(length) : qint64(length)))
        return false;
    if (!wide) {
        text = DecodeProfileText(bytes);
        return true;
    }
    text.resize(length);
    for (quint32 i = 0; i < length; ++i)
        text[i] = QChar(qFromLittleEndian<quint16>(bytes.constData() + 2 * qint64(i)));
    ReplaceLoneSurrogates(text);
    return true;
}

bool CProfileReader::ReadProfile(CProfile& profile) {
    CProfile record;
    const bool ok = ReadString(record.m_name) && ReadString(record.m_address) &&
                    ReadInt32(record.m_anonymous) && ReadString(record.m_userId) &&
                    ReadString(record.m_password) && ReadString(record.m_initialDir) &&
                    ReadString(record.m_comment) && ReadInt32(record.m_default) &&
                    ReadInt32(record.m_active);
    if (ok)
        profile = record;
    return ok;
}

CProfile SampleProfile() {
    CProfile sample;
    sample.m_name = QStringLiteral("Sample Profile");
    sample.m_address = QStringLiteral("ftp.gnu.org");
    sample.m_anonymous = 1;
    sample.m_comment = QStringLiteral("GNU Project's FTP Site");
    sample.m_default = 1;
    sample.m_active = 1;
    return sample;
}

ProfileListLoad LoadProfileList(const QString& path) {
    ProfileListLoad load;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return load;
    load.opened = true;
    CProfileReader reader(file);
    qint32 count = 0;
    if (!reader.ReadInt32(count) || count <= 0) {
        load.damaged = true;
        return load;
    }
    // Never reserve by the count: only records that are really there take memory.
    CProfile record;
    for (qint32 i = 0; i < count; ++i) {
        if (!reader.ReadProfile(record)) {
            load.damaged = true;
            break;
        }
        load.profiles.push_back(record);
    }
    return load;
}

bool SaveProfileList(const QString& path, const std::vector<CProfile>& profiles) {
    const QByteArray data = EncodeProfileFile(profiles);
    const QFileInfo info(path);
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    QByteArray temp = folder + "/." + QFile::encodeName(info.fileName()) + ".XXXXXX";
    const int fd = ::mkstemp(temp.data()); // created 0600
    if (fd < 0)
        return false;
    bool ok = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 && privatefile::WriteAll(fd, data) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.constData(), QFile::encodeName(path).constData()) == 0;
    if (!ok) {
        ::unlink(temp.constData());
        return false;
    }
    SyncFolder(folder);
    return true;
}

namespace {
bool FindActiveProfile(CVelmarApp& app) {
    const QString& path = app.m_profileFilePath;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        // Only a missing file gets the sample. One that is there but cannot be
        // read may hold the user's sites: it is never replaced.
        const QFileInfo info(path);
        if (info.exists() || info.isSymLink()) {
            CVelmarApp::ReportDependencyFileError();
            return false;
        }
        app.Site().SetProfile(SampleProfile());
        if (!SaveProfileList(path, {app.Site().Profile()}) || !file.open(QIODevice::ReadOnly)) {
            CVelmarApp::ReportDependencyFileError();
            return false;
        }
    }

    CProfileReader reader(file);
    qint32 count = 0;
    reader.ReadInt32(count);
    CProfile record;
    CProfile first;
    qint32 read = 0;
    for (; read < count && reader.ReadProfile(record); ++read) {
        if (read == 0)
            first = record;
        if (record.m_default != 0) {
            app.Site().SetActiveProfile(record, read);
            return true;
        }
    }
    // A file we did not write: no default among the records that could be read.
    // The first of them is used; with none, the sample, in memory only. The file
    // stays as it is until the user saves the list in the Profiles dialog.
    app.Site().SetActiveProfile(read > 0 ? first : SampleProfile(), 0);
    return true;
}
} // namespace

bool LoadProfilesAtStartup(CVelmarApp& app) {
    if (!FindActiveProfile(app))
        return false;
    TakeActiveProfilePassword(app);
    return true;
}
