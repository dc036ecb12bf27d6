#include "KnownHosts.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sftp {

namespace {

struct Line {
    QString marker; // "@revoked", "@cert-authority" or empty
    QString hosts;
    QString keyName;
    QByteArray blob;
};

bool ParseLine(const QString& text, Line& line) {
    QStringList f = text.split(QRegularExpression(QStringLiteral("[ \t]+")), Qt::SkipEmptyParts);
    if (f.isEmpty() || f[0].startsWith(QLatin1Char('#')))
        return false;
    if (f[0].startsWith(QLatin1Char('@')))
        line.marker = f.takeFirst();
    if (f.size() < 3)
        return false;
    line.hosts = f[0];
    line.keyName = f[1];
    line.blob = QByteArray::fromBase64(f[2].toLatin1());
    return !line.blob.isEmpty();
}

QByteArray HashName(const QByteArray& salt, const QString& name) {
    return QMessageAuthenticationCode::hash(name.toUtf8(), salt, QCryptographicHash::Sha1);
}

bool HostMatches(const QString& hosts, const QString& name) {
    if (hosts.startsWith(QStringLiteral("|1|"))) {
        const QStringList parts = hosts.split(QLatin1Char('|'));
        if (parts.size() != 4)
            return false;
        const QByteArray salt = QByteArray::fromBase64(parts[2].toLatin1());
        return HashName(salt, name) == QByteArray::fromBase64(parts[3].toLatin1());
    }
    return MatchHostPatterns(name, hosts);
}

bool Wildcard(const QString& text, qsizetype t, const QString& pattern, qsizetype p) {
    for (; p < pattern.size(); ++p, ++t) {
        if (pattern[p] == QLatin1Char('*')) {
            for (qsizetype k = t; k <= text.size(); ++k)
                if (Wildcard(text, k, pattern, p + 1))
                    return true;
            return false;
        }
        if (t >= text.size() || (pattern[p] != QLatin1Char('?') && pattern[p] != text[t]))
            return false;
    }
    return t == text.size();
}

// Writes data to path through a temporary file beside it, with mode.
bool ReplaceKeepingMode(const QString& path, const QByteArray& data, mode_t mode) {
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temp = target + ".velmar" + QByteArray::number(qint64(::getpid()));
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const char* p = data.constData();
    qsizetype left = data.size();
    bool ok = ::fchmod(fd, mode) == 0;
    while (ok && left > 0) {
        const ssize_t n = ::write(fd, p, std::size_t(left));
        ok = n > 0;
        p += ok ? n : 0;
        left -= ok ? n : 0;
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temp.constData(), target.constData()) != 0) {
        ::unlink(temp.constData());
        return false;
    }
    return true;
}

} // namespace

QString HostKey::Type() const {
    if (name == QStringLiteral("ssh-ed25519"))
        return QStringLiteral("ED25519");
    if (name.startsWith(QStringLiteral("ecdsa-")))
        return QStringLiteral("ECDSA");
    if (name == QStringLiteral("ssh-rsa"))
        return QStringLiteral("RSA");
    if (name == QStringLiteral("ssh-dss"))
        return QStringLiteral("DSA");
    return name.toUpper();
}

QString HostKey::Fingerprint() const {
    const QByteArray hash = QCryptographicHash::hash(blob, QCryptographicHash::Sha256);
    return QStringLiteral("SHA256:") +
           QString::fromLatin1(hash.toBase64(QByteArray::OmitTrailingEquals));
}

QString KnownHostName(const QString& host, int port) {
    const QString lower = host.toLower();
    return port == 22 ? lower : QStringLiteral("[%1]:%2").arg(lower).arg(port);
}

KnownHosts::KnownHosts() : m_path(QDir::homePath() + QStringLiteral("/.ssh/known_hosts")) {}

HostKeyCheck KnownHosts::Check(const QString& host, int port, const HostKey& key) const {
    HostKeyCheck check;
    check.offered = key;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return check;
    const QString name = KnownHostName(host, port);
    bool known = false;
    bool changed = false;
    while (!file.atEnd()) {
        Line line;
        if (!ParseLine(QString::fromUtf8(file.readLine()).trimmed(), line) ||
            line.marker == QStringLiteral("@cert-authority") || !HostMatches(line.hosts, name))
            continue;
        const HostKey remembered{line.keyName, line.blob};
        const bool same = line.keyName == key.name && line.blob == key.blob;
        if (line.marker == QStringLiteral("@revoked")) {
            changed |= line.blob == key.blob;
        } else if (same) {
            known = true;
        } else if (line.keyName == key.name) {
            changed = true;
            check.knownFingerprint = remembered.Fingerprint();
        } else if (!check.knownTypes.contains(remembered.Type())) {
            check.knownTypes << remembered.Type();
        }
    }
    if (changed)
        check.status = HostKeyStatus::Changed;
    else if (known)
        check.status = HostKeyStatus::Known;
    else if (!check.knownTypes.isEmpty())
        check.status = HostKeyStatus::OtherTypeKnown;
    return check;
}

bool KnownHosts::Remember(const QString& host, int port, const HostKey& key, bool hashed) const {
    // Through a link, the file it points to is the one ssh reads.
    const QFileInfo info(m_path);
    const QString path = info.isSymLink() ? info.symLinkTarget() : m_path;
    const QString folder = QFileInfo(path).absolutePath();
    if (!QFileInfo::exists(folder) && QDir().mkpath(folder)) {
        // As ssh makes it: what is kept there is the user's alone.
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QByteArray data;
    mode_t mode = 0644;
    QFile old(path);
    if (old.exists()) {
        struct stat st {};
        if (!old.open(QIODevice::ReadOnly) || ::stat(QFile::encodeName(path).constData(), &st) != 0)
            return false;
        data = old.readAll();
        mode = st.st_mode & 07777;
    }
    if (!data.isEmpty() && !data.endsWith('\n'))
        data += '\n';
    QString name = KnownHostName(host, port);
    if (hashed) {
        QByteArray salt(20, Qt::Uninitialized);
        QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(salt.data()), 5);
        name = QStringLiteral("|1|%1|%2")
                   .arg(QString::fromLatin1(salt.toBase64()),
                        QString::fromLatin1(HashName(salt, name).toBase64()));
    }
    data += (name + QLatin1Char(' ') + key.name + QLatin1Char(' ') +
             QString::fromLatin1(key.blob.toBase64()) + QLatin1Char('\n'))
                .toUtf8();
    return ReplaceKeepingMode(path, data, mode);
}

bool MatchHostPatterns(const QString& name, const QString& patterns) {
    bool matched = false;
    for (QString pattern : patterns.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const bool negated = pattern.startsWith(QLatin1Char('!'));
        if (negated)
            pattern.remove(0, 1);
        if (Wildcard(name.toLower(), 0, pattern.toLower(), 0)) {
            if (negated)
                return false;
            matched = true;
        }
    }
    return matched;
}

} // namespace sftp
