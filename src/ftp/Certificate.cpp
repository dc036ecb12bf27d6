#include "Certificate.h"

#include "PrivateFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "InternetException.h"

namespace {

constexpr const char* kHeader = "# Velmar98: server certificates always accepted (host:port "
                                "SHA-256)\n";
constexpr const char* kTlsHeader = "# Velmar98: servers that logged in over TLS (host:port)\n";

// The lines of the store file; an unreadable or missing file is an empty store.
QStringList ReadLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // A store is a few lines; anything huge is not ours and not worth reading.
    const QByteArray data = file.read(4 << 20);
    return QString::fromUtf8(data).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// "key fingerprint" when the line is one of ours.
bool SplitEntry(const QString& line, QString* key, QString* fingerprint) {
    if (line.startsWith(QLatin1Char('#')))
        return false;
    const QStringList parts = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() != 2)
        return false;
    *key = parts[0].toLower();
    *fingerprint = parts[1].toUpper();
    return true;
}

} // namespace

QString CertificateVerdict::Reasons() const {
    QStringList lines;
    if (problems & CERT_CHANGED)
        lines << QStringLiteral("The certificate is NOT the one you chose to always accept for "
                                "this server. Someone may be intercepting the connection.");
    if (problems & CERT_SELF_SIGNED)
        lines << QStringLiteral("The certificate is self-signed.");
    else if (problems & CERT_UNTRUSTED)
        lines << QStringLiteral("The certificate is not signed by a trusted authority.");
    if (problems & CERT_EXPIRED)
        lines << QStringLiteral("The certificate has expired or is not yet valid.");
    if (problems & CERT_NAME_MISMATCH)
        lines << QStringLiteral("The certificate was not issued for the name \"%1\".").arg(host);
    if (problems & CERT_INVALID)
        lines << QStringLiteral("The certificate is not valid.");
    return lines.join(QLatin1Char('\n'));
}

QString CertificateVerdict::Describe() const {
    QString text = Reasons();
    text += QStringLiteral("\n\nServer: %1:%2\nSubject: %3\nIssuer: %4\nValid from: %5\n"
                           "Valid until: %6\nSHA-256 fingerprint: %7")
                .arg(host)
                .arg(port)
                .arg(subject, issuer, validFrom, validUntil, fingerprint);
    if (problems & CERT_CHANGED)
        text += QStringLiteral("\nRemembered fingerprint: %1").arg(rememberedFingerprint);
    text += QStringLiteral("\n\nConnect to this server anyway?");
    return text;
}

CertificateStore::CertificateStore() : m_path(DefaultPath()) {}

CertificateStore::CertificateStore(const QString& path) : m_path(path) {}

QString CertificateStore::DefaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Velmar98/certificates");
}

QString CertificateStore::Key(const QString& host, unsigned short port) {
    const QString h = host.toLower();
    // An IPv6 address is bracketed so that its colons never blur into the port's.
    return (h.contains(QLatin1Char(':')) ? QLatin1Char('[') + h + QLatin1Char(']') : h) +
           QLatin1Char(':') + QString::number(port);
}

QString CertificateStore::Lookup(const QString& host, unsigned short port) const {
    const QString wanted = Key(host, port);
    QString key, fingerprint;
    for (const QString& line : ReadLines(m_path))
        if (SplitEntry(line, &key, &fingerprint) && key == wanted)
            return fingerprint;
    return {};
}

bool CertificateStore::Remember(const QString& host, unsigned short port,
                                const QString& fingerprint) {
    const QString wanted = Key(host, port);
    QByteArray out(kHeader);
    QString key, old;
    for (const QString& line : ReadLines(m_path)) {
        if (line.startsWith(QLatin1String(kHeader).trimmed()))
            continue;
        if (SplitEntry(line, &key, &old) && key == wanted)
            continue; // replaced below
        out += line.toUtf8() + '\n';
    }
    out += (wanted + QLatin1Char(' ') + fingerprint.toUpper()).toUtf8() + '\n';
    return privatefile::Replace(m_path, out, privatefile::Sync::Yes);
}

QString TlsMemory::BesideStore(const QString& storePath) {
    return QFileInfo(storePath).absolutePath() + QStringLiteral("/tls-sites");
}

bool TlsMemory::Has(const QString& host, unsigned short port) const {
    const QString wanted = CertificateStore::Key(host, port);
    for (const QString& line : ReadLines(m_path))
        if (line.trimmed().toLower() == wanted)
            return true;
    return false;
}

bool TlsMemory::Remember(const QString& host, unsigned short port) {
    QByteArray out(kTlsHeader);
    for (const QString& line : ReadLines(m_path))
        if (!line.startsWith(QLatin1Char('#')))
            out += line.toUtf8() + '\n';
    out += CertificateStore::Key(host, port).toUtf8() + '\n';
    return privatefile::Replace(m_path, out, privatefile::Sync::Yes);
}

bool CertificateTrust::TlsExpected(const QString& host, unsigned short port) {
    std::lock_guard lock(m_mutex);
    return m_memory.Has(host, port) || !m_store.Lookup(host, port).isEmpty();
}

void CertificateTrust::TlsLoggedIn(const QString& host, unsigned short port) {
    std::lock_guard lock(m_mutex);
    // Written once: most logins find the line already there.
    if (!m_memory.Has(host, port))
        m_memory.Remember(host, port);
}

void CertificateTrust::SetCallback(CertificateCallback callback) {
    std::lock_guard lock(m_mutex);
    m_callback = std::move(callback);
}

void CertificateTrust::Approve(CertificateVerdict verdict) {
    const std::string once = CertificateStore::Key(verdict.host, verdict.port).toStdString() + " " +
                             verdict.fingerprint.toStdString();
    CertificateCallback callback;
    {
        std::lock_guard lock(m_mutex);
        const QString remembered = m_store.Lookup(verdict.host, verdict.port);
        if (!remembered.isEmpty() && remembered == verdict.fingerprint)
            return;
        if (m_acceptedOnce.count(once))
            return;
        if (!remembered.isEmpty()) {
            verdict.problems |= CERT_CHANGED;
            verdict.rememberedFingerprint = remembered;
        }
        if (verdict.problems == 0)
            return;
        callback = m_callback;
    }
    // Without anyone to ask, a doubtful certificate is refused, never waved through.
    const CertificateAnswer answer = callback ? callback(verdict) : CertificateAnswer::Cancel;
    if (answer == CertificateAnswer::Cancel)
        throw CInternetException(ERROR_INTERNET_SEC_CERT_ERRORS,
                                 QStringLiteral("The server's certificate was not accepted:\n") +
                                     verdict.Reasons());
    std::lock_guard lock(m_mutex);
    // "Always" that cannot be saved still lets this session go on, as once.
    if (answer == CertificateAnswer::AcceptAlways)
        m_store.Remember(verdict.host, verdict.port, verdict.fingerprint);
    m_acceptedOnce.insert(once);
}
