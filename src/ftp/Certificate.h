#pragma once

// What a server's certificate is and whether we trust it. The FTP layer never
// decides alone about a certificate that the system's trust store does not vouch
// for: it describes it in a CertificateVerdict and asks the application's
// callback, which answers for the user.

#include <QString>
#include <functional>
#include <mutex>
#include <set>
#include <string>

// Error numbers of the secure connection, beside those of InternetException.h.
enum : int {
    ERROR_INTERNET_SEC_CERT_ERRORS = 12055,        // a certificate was not accepted
    ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157, // no TLS, or TLS broke
    ERROR_INTERNET_TLS_WITHDRAWN = 12158, // a server that had shown TLS no longer offers it
};

enum CertificateProblem : unsigned {
    CERT_UNTRUSTED = 0x1,     // no trusted authority signed it
    CERT_SELF_SIGNED = 0x2,   // signed by itself
    CERT_EXPIRED = 0x4,       // outside its validity dates
    CERT_NAME_MISMATCH = 0x8, // made for another host name
    CERT_CHANGED = 0x10,      // not the one remembered for this host and port
    CERT_INVALID = 0x20,      // broken in another way (bad signature, wrong purpose...)
};

struct CertificateVerdict {
    QString host;
    unsigned short port = 0;
    unsigned problems = 0; // CertificateProblem bits
    QString subject;
    QString issuer;
    QString validFrom; // UTC, "yyyy-MM-dd hh:mm:ss UTC"
    QString validUntil;
    QString fingerprint;           // SHA-256, upper-case hex pairs joined by ':'
    QString rememberedFingerprint; // set with CERT_CHANGED

    // The reasons in words, one sentence each.
    QString Reasons() const;
    // The whole text of the question put to the user.
    QString Describe() const;
};

enum class CertificateAnswer { Cancel, AcceptOnce, AcceptAlways };

// Answers for the user; may block while the user thinks. Must be callable from
// any thread that opens connections.
using CertificateCallback = std::function<CertificateAnswer(const CertificateVerdict&)>;

// The fingerprints the user chose to always accept, one per host and port, in a
// small text file beside the settings. Every change rereads the file and
// replaces it whole through a temporary file, so a crash leaves the old one or
// the new one, never half of either; lines we do not understand are kept.
class CertificateStore {
public:
    // The default file: $XDG_CONFIG_HOME/Velmar98/certificates.
    CertificateStore();
    explicit CertificateStore(const QString& path);

    // The remembered fingerprint, empty when there is none.
    QString Lookup(const QString& host, unsigned short port) const;
    // false when the file could not be written; the old file is then untouched.
    bool Remember(const QString& host, unsigned short port, const QString& fingerprint);

    const QString& Path() const { return m_path; }
    static QString DefaultPath();
    static QString Key(const QString& host, unsigned short port);

private:
    QString m_path;
};

// The hosts and ports that logged us in over TLS, one a line in a small file
// beside the store of certificates, kept the same safe way. Such a server that
// later answers without TLS is not sent a login in clear.
class TlsMemory {
public:
    explicit TlsMemory(const QString& path) : m_path(path) {}

    bool Has(const QString& host, unsigned short port) const;
    // false when the file could not be written; the old file is then untouched.
    bool Remember(const QString& host, unsigned short port);

    const QString& Path() const { return m_path; }
    // The file beside a store of certificates: "tls-sites" in its folder.
    static QString BesideStore(const QString& storePath);

private:
    QString m_path;
};

// The trust decisions of one internet session: the remembered fingerprints, the
// certificates accepted once in this session, and the callback that asks.
class CertificateTrust {
public:
    CertificateTrust() : m_memory(TlsMemory::BesideStore(m_store.Path())) {}
    explicit CertificateTrust(const QString& storePath)
        : m_store(storePath), m_memory(TlsMemory::BesideStore(storePath)) {}

    void SetCallback(CertificateCallback callback);
    // Decides on a server's certificate; verdict.problems holds what the TLS layer
    // found. Throws CInternetException when it is not accepted.
    void Approve(CertificateVerdict verdict);

    // Whether this host and port have shown TLS before: a certificate always
    // accepted for them, or a login over TLS.
    bool TlsExpected(const QString& host, unsigned short port);
    // A login over TLS succeeded there: from now on TLS is expected.
    void TlsLoggedIn(const QString& host, unsigned short port);

    CertificateStore& Store() { return m_store; }
    TlsMemory& Memory() { return m_memory; }

private:
    std::mutex m_mutex;
    CertificateStore m_store;
    TlsMemory m_memory;
    std::set<std::string> m_acceptedOnce; // "host:port fingerprint"
    CertificateCallback m_callback;
};
