#include "InternetSession.h"

#include <algorithm>
#include <csignal>
#include <sys/socket.h>

#include "FtpConnection.h"
#include "FtpControl.h"

CInternetSession::CInternetSession(const QString& agent, int context, unsigned, const QString&,
                                   const QString&, unsigned)
    : m_agent(agent), m_context(context) {
    // A peer that vanishes mid-write must surface as an error on that socket, not
    // as SIGPIPE ending the whole program.
    static std::once_flag ignorePipe;
    std::call_once(ignorePipe, [] { std::signal(SIGPIPE, SIG_IGN); });
}

CInternetSession::~CInternetSession() = default;

bool PendingConnects::Add(int fd) {
    std::lock_guard lock(m_mutex);
    if (m_cancelled)
        return false;
    m_fds.push_back(fd);
    return true;
}

void PendingConnects::Remove(int fd) {
    std::lock_guard lock(m_mutex);
    m_fds.erase(std::remove(m_fds.begin(), m_fds.end(), fd), m_fds.end());
}

void PendingConnects::CancelAll() {
    std::lock_guard lock(m_mutex);
    m_cancelled = true;
    // A connecting or reading socket wakes up at once with an error; the fd stays
    // valid until its owner has removed it, as Remove takes this lock too.
    for (int fd : m_fds)
        ::shutdown(fd, SHUT_RDWR);
}

void CInternetSession::Close() {
    // Connections made belong to their openers and are closed by them; only the
    // ones still being made are the session's to end.
    m_pending.CancelAll();
}

void CInternetSession::SetCertificateCallback(CertificateCallback callback) {
    m_trust->SetCallback(std::move(callback));
}

bool CInternetSession::ParseAddress(const QString& server, unsigned short defaultPort,
                                    QString* host, unsigned short* port) {
    const QString text = server.trimmed();
    QString h = text;
    QString p;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        h = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':')))
                return false;
            p = rest.mid(1);
            if (p.isEmpty())
                return false;
        }
    } else if (text.count(QLatin1Char(':')) == 1) {
        const qsizetype colon = text.indexOf(QLatin1Char(':'));
        h = text.left(colon);
        p = text.mid(colon + 1);
        if (p.isEmpty())
            return false;
    }
    // More than one colon without brackets: a bare IPv6 address, no port.
    if (h.isEmpty() || h.contains(QLatin1Char(' ')) || h.contains(QLatin1Char('/')))
        return false;
    unsigned short value = defaultPort ? defaultPort : 21;
    if (!p.isEmpty()) {
        bool ok = false;
        for (QChar c : p)
            if (!c.isDigit() || c.unicode() > 127)
                return false;
        const uint parsed = p.toUInt(&ok);
        if (!ok || parsed == 0 || parsed > 65535)
            return false;
        value = static_cast<unsigned short>(parsed);
    }
    if (host)
        *host = h;
    if (port)
        *port = value;
    return true;
}

CFtpConnection* CInternetSession::GetFtpConnection(const QString& server, const QString& user,
                                                   const QString& password, unsigned short port,
                                                   bool passive) {
    QString host, address;
    unsigned short number = 0;
    TlsMode tls = TlsMode::Auto;
    if (!SplitFtpScheme(server, &address, &tls) || !ParseAddress(address, port, &host, &number))
        throw CInternetException(ERROR_INTERNET_NAME_NOT_RESOLVED,
                                 QStringLiteral("The FTP address is not valid."));
    // A copy: the connection keeps its own time-outs, whatever the session's owner
    // changes later on another thread.
    const FtpTimeouts timeouts = m_timeouts;
    auto control = FtpControl::Open(host.toStdString(), number, user.toUtf8().toStdString(),
                                    password.toUtf8().toStdString(), timeouts, passive, &m_pending,
                                    tls, m_trust.get());
    return new CFtpConnection(std::move(control));
}
