#include "FtpControl.h"

#include <Poco/Exception.h>
#include <Poco/Net/NetException.h>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>

#include "FtpDataChannel.h"
#include "Interrupt.h"
#include "NameCodec.h"
#include "SocketWait.h"

using Poco::Net::SocketAddress;
using Poco::Net::StreamSocket;

namespace {

constexpr const char* kAnonymousPassword = "velmar98@";

QString FromServer(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

const QString kClosed = QStringLiteral("The connection to the server is closed.");
const QString kTimedOut = QStringLiteral("The server did not answer in time.");
const QString kMalformed = QStringLiteral("The server sent a malformed reply.");
const QString kCancelled = QStringLiteral("The operation was cancelled.");

// Keeps a socket in the session's list of pending connects while it is set up.
class PendingGuard {
public:
    PendingGuard(PendingConnects* pending, int fd) : m_pending(pending), m_fd(fd) {
        if (m_pending && !m_pending->Add(fd)) {
            m_pending = nullptr;
            throw CInternetException(ERROR_INTERNET_OPERATION_CANCELLED,
                                     QStringLiteral("The connection was cancelled."));
        }
    }
    ~PendingGuard() {
        if (m_pending)
            m_pending->Remove(m_fd);
    }
    PendingGuard(const PendingGuard&) = delete;
    PendingGuard& operator=(const PendingGuard&) = delete;

private:
    PendingConnects* m_pending;
    int m_fd;
};

} // namespace

[[noreturn]] void RethrowAsInternetException(int fallbackError) {
    try {
        throw;
    } catch (const CInternetException&) {
        throw;
    } catch (const Poco::TimeoutException& e) {
        throw CInternetException(ERROR_INTERNET_TIMEOUT,
                                 QStringLiteral("The server did not answer in time."));
    } catch (const Poco::Net::HostNotFoundException& e) {
        throw CInternetException(ERROR_INTERNET_NAME_NOT_RESOLVED,
                                 QStringLiteral("The server name could not be resolved."));
    } catch (const Poco::Net::NoAddressFoundException& e) {
        throw CInternetException(ERROR_INTERNET_NAME_NOT_RESOLVED,
                                 QStringLiteral("The server name could not be resolved."));
    } catch (const Poco::Net::ConnectionRefusedException& e) {
        throw CInternetException(ERROR_INTERNET_CANNOT_CONNECT,
                                 QStringLiteral("The server refused the connection."));
    } catch (const Poco::Net::ConnectionResetException& e) {
        throw CInternetException(ERROR_INTERNET_CONNECTION_ABORTED,
                                 QStringLiteral("The connection was reset by the server."));
    } catch (const Poco::Net::ConnectionAbortedException& e) {
        throw CInternetException(ERROR_INTERNET_CONNECTION_ABORTED,
                                 QStringLiteral("The connection was aborted."));
    } catch (const Poco::Exception& e) {
        throw CInternetException(fallbackError, QString::fromStdString(e.displayText()));
    } catch (const std::exception& e) {
        throw CInternetException(fallbackError, QString::fromLocal8Bit(e.what()));
    }
}

FtpControl::FtpControl(const std::string& host, unsigned short port, const std::string& user,
                       const std::string& password, const FtpTimeouts& timeouts)
    : m_host(host), m_port(port), m_user(user), m_password(password), m_timeouts(timeouts),
      m_serverName(QString::fromStdString(host)) {}

FtpControl::~FtpControl() {
    NameCodec::Detach(this);
    if (m_openFile)
        m_openFile->Detach();
    try {
        m_socket.close();
    } catch (...) {
        // The control socket is gone either way.
    }
}

std::unique_ptr<FtpControl> FtpControl::Open(const std::string& host, unsigned short port,
                                             const std::string& user, const std::string& password,
                                             const FtpTimeouts& timeouts, bool passive,
                                             PendingConnects* pending, TlsMode tls,
                                             CertificateTrust* trust) {
    std::unique_ptr<FtpControl> control(new FtpControl(host, port, user, password, timeouts));
    control->m_passive = passive;
    control->m_tlsMode = tls;
    control->m_trust = trust;
    control->Dial(pending);
    return control;
}

// Makes the control connection and logs in; used for the first connection and
// for a fresh one after the replies fell out of step.
void FtpControl::Dial(PendingConnects* pending) {
    StreamSocket socket;
    SocketAddress address;
    try {
        address = ftp::Resolve(m_host, m_port);
        socket = StreamSocket(address.family());
    } catch (...) {
        RethrowAsInternetException(ERROR_INTERNET_CANNOT_CONNECT);
    }
    PendingGuard guard(pending, socket.impl()->sockfd());
    try {
        ftp::Connect(socket, address, m_timeouts.connectMs);
        socket.setNoDelay(true);
        m_peer = socket.peerAddress();
        m_local = socket.address();
    } catch (...) {
        RethrowAsInternetException(ERROR_INTERNET_CANNOT_CONNECT);
    }
    m_socket = socket;
    m_parser.Reset();
    m_dead = false;
    m_replyOwed = false;
    m_cutShort = false;
    m_tls = false;
    m_secure.reset();
    if (m_tlsMode == TlsMode::Implicit)
        SecureChannel(); // the greeting already comes encrypted
    Greet();
    StartTls();
    Login();
    if (m_tls)
        TlsLoggedIn();
    Negotiate();
}

void FtpControl::Greet() {
    // A server may say "120 ready in a while" any number of times, but all of it
    // within one reply time-out.
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_timeouts.replyMs);
    FtpReply greeting = ReadReplyUntil(deadline);
    while (greeting.code == 120)
        greeting = ReadReplyUntil(deadline);
    if (greeting.code == 0)
        throw CInternetException(ERROR_INTERNET_CANNOT_CONNECT,
                                 QStringLiteral("The server closed the connection."));
    if (!greeting.Is(2)) {
        m_dead = true;
        CloseSocket();
        throw CInternetException(ERROR_INTERNET_CANNOT_CONNECT,
                                 QStringLiteral("The server refused the session: ") +
                                     FromServer(greeting.text));
    }
}

void FtpControl::Login() {
    const std::string& user = m_user;
    const bool anonymous = user.empty() || user == "anonymous" || user == "ftp";
    const std::string name = user.empty() ? std::string("anonymous") : user;
    const std::string pass = anonymous && m_password.empty() ? kAnonymousPassword : m_password;
    if (name.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos ||
        pass.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
        throw CInternetException(ERROR_INTERNET_LOGIN_FAILURE,
                                 QStringLiteral("The user name or password is not valid."));
    FtpReply reply = Command("USER " + name);
    if (reply.Is(3))
        reply = Command("PASS " + pass);
    if (!reply.Is(2))
        throw CInternetException(ERROR_INTERNET_LOGIN_FAILURE,
                                 QStringLiteral("The server refused the login: ") +
                                     FromServer(reply.text));
}

void FtpControl::Negotiate() {
    FtpReply feat;
    if (CommandOk("FEAT", 2, &feat)) {
        bool utf8 = false;
        std::size_t pos = 0;
        while (pos < feat.text.size()) {
            std::size_t end = feat.text.find('\n', pos);
            if (end == std::string::npos)
                end = feat.text.size();
            std::string line = feat.text.substr(pos, end - pos);
            pos = end + 1;
            for (char& c : line)
                c = char(std::toupper(static_cast<unsigned char>(c)));
            const std::size_t first = line.find_first_not_of(' ');
            if (first == std::string::npos || first == 0)
                continue; // feature lines are indented; the first and last are not
            const std::string feature = line.substr(first, line.find(' ', first) - first);
            if (feature == "MLST")
                m_hasMlst = true;
            else if (feature == "UTF8")
                utf8 = true;
        }
        if (utf8)
            CommandOk("OPTS UTF8 ON");
        NameCodec::Attach(this, m_host + ':' + std::to_string(m_port) + ' ' + m_user, utf8);
        if (m_hasMlst)
            CommandOk("OPTS MLST type;size;modify;unique;unix.mode;");
    }
    if (!Alive()) {
        ftp::ThrowIfInterrupted(); // a stop ended the connection, not the server
        throw CInternetException(ERROR_FTP_DROPPED, kClosed);
    }
    FtpReply type = Command("TYPE I");
    if (!type.Is(2))
        throw CInternetException(ERROR_INTERNET_EXTENDED_ERROR,
                                 QStringLiteral("The server refused binary transfers: ") +
                                     FromServer(type.text));
    m_up = true;
}

void FtpControl::CloseSocket() {
    // Shut down, not closed: the descriptor stays ours until the socket object
    // goes, so no one else's socket can be hit through a stale number.
    if (m_socket.impl()->initialized())
        ::shutdown(m_socket.impl()->sockfd(), SHUT_RDWR);
}

void FtpControl::Fail(int error, const QString& message) {
    m_dead = true;
    // A stop leaves a reply owed: that reply may still come, so this socket is out
    // of step for good. The server itself is fine, and the next command gets a
    // fresh login on a new socket, which answers each command with its own reply.
    if (error == ERROR_INTERNET_OPERATION_CANCELLED) {
        m_reconnectDue = true;
        m_cutShort = m_replyOwed;
    }
    CloseSocket();
    throw CInternetException(error, message);
}

// A wait on the control socket that ended without a byte: a stop gives up the
// socket (see Fail), as does a time-out or a lost connection.
void FtpControl::FailedWait(int lostError, const QString& lost) {
    try {
        throw;
    } catch (const CInternetException& e) {
        Fail(e.m_dwError, e.Message());
    } catch (const Poco::TimeoutException&) {
        Fail(ERROR_INTERNET_TIMEOUT, kTimedOut);
    } catch (const Poco::Exception& e) {
        Fail(m_tls ? ERROR_INTERNET_CONNECTION_ABORTED : lostError,
             m_tls ? QStringLiteral("The secure connection failed: ") +
                         QString::fromStdString(e.displayText())
                   : lost);
    }
}

bool FtpControl::Receive(Clock::time_point deadline) {
    char buffer[16384];
    int n = 0;
    try {
        n = ftp::ReceiveUntil(m_socket, buffer, sizeof buffer, deadline);
    } catch (...) {
        FailedWait(ERROR_INTERNET_CONNECTION_ABORTED,
                   QStringLiteral("The connection was reset by the server."));
    }
    if (n <= 0)
        return false;
    m_parser.Feed(buffer, std::size_t(n));
    return true;
}

void FtpControl::SendRaw(const std::string& bytes, Clock::time_point deadline) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        int n = 0;
        try {
            n = ftp::SendUntil(m_socket, bytes.data() + sent, int(bytes.size() - sent), deadline);
        } catch (...) {
            FailedWait(ERROR_FTP_DROPPED, kClosed);
        }
        if (n <= 0)
            Fail(ERROR_FTP_DROPPED, kClosed);
        sent += std::size_t(n);
    }
}

void FtpControl::Send(const std::string& line) {
    Send(line, Clock::now() + std::chrono::milliseconds(m_timeouts.replyMs));
}

void FtpControl::Send(const std::string& line, Clock::time_point deadline) {
    // A command not sent yet is simply not sent: the connection stays in step.
    ftp::ThrowIfInterrupted();
    if (ReconnectDue()) {
        m_reconnectDue = false;
        // A login stopped halfway is tried again at the next command; one the
        // server refused or could not make leaves the connection closed.
        if (!Reconnect() && ftp::Interrupted()) {
            m_reconnectDue = true;
            ftp::ThrowCancelled();
        }
    }
    if (!Alive())
        throw CInternetException(ERROR_FTP_DROPPED,
                                 m_givenUp && !m_lostReason.isEmpty() ? LostText() : kClosed);
    // Owed from the first byte on: even a line cut halfway may have reached the server.
    m_replyOwed = true;
    ++m_sent;
    SendRaw(line + "\r\n", deadline);
}

FtpReply FtpControl::ReadReply() {
    return ReadReplyUntil(Clock::now() + std::chrono::milliseconds(m_timeouts.replyMs));
}

FtpReply FtpControl::ReadReplyUntil(Clock::time_point deadline) {
    if (!Alive())
        throw CInternetException(ERROR_FTP_DROPPED, kClosed);
    FtpReply reply;
    while (!m_parser.Next(reply)) {
        if (m_parser.Malformed())
            Fail(ERROR_INTERNET_EXTENDED_ERROR, kMalformed);
        if (!Receive(deadline)) {
            m_dead = true;
            CloseSocket();
            return FtpReply();
        }
    }
    if (reply.code >= 200)
        m_replyOwed = false;
    if (reply.code == 421) {
        // The server is closing the connection: nothing more will be answered.
        m_dead = true;
        CloseSocket();
    }
    return reply;
}

FtpReply FtpControl::Command(const std::string& command) {
    const int reconnects = m_reconnects;
    for (int attempt = 0;; ++attempt) {
        try {
            return CommandOnce(command);
        } catch (const CInternetException& e) {
            const bool lost = WillRedial() && e.m_dwError != ERROR_INTERNET_OPERATION_CANCELLED;
            // One fresh login per command: a connection that breaks again right
            // after it is not made a third time.
            if (lost && (attempt > 0 || m_reconnects != reconnects)) {
                GiveUpAfterLoss();
                m_lostReason = e.Message();
            }
            if (!lost || m_givenUp || !Repeatable(command))
                throw;
        }
        // Sent again; Send makes the connection afresh first.
    }
}

FtpReply FtpControl::CommandOnce(const std::string& command) {
    RedialIfLost();
    Send(command);
    FtpReply reply = ReadReply();
    if (reply.code == 0)
        throw CInternetException(ERROR_FTP_DROPPED,
                                 QStringLiteral("The server closed the connection."));
    if (reply.code == 421)
        throw CInternetException(ERROR_FTP_DROPPED,
                                 QStringLiteral("The server closed the connection: ") +
                                     FromServer(reply.text));
    Remember(command, reply);
    return reply;
}

bool FtpControl::CommandOk(const std::string& command, int replyClass, FtpReply* reply) {
    try {
        FtpReply r = Command(command);
        const bool ok = r.Is(replyClass);
        if (reply)
            *reply = std::move(r);
        return ok;
    } catch (const CInternetException& e) {
        // A stop is the caller's to tell by its own request; a lost connection is
        // never passed off as the server's no.
        if (e.m_dwError == ERROR_INTERNET_OPERATION_CANCELLED || ReconnectDue())
            return false;
        throw;
    }
}

void FtpControl::Quit() {
    m_givenUp = true; // closed on purpose: nothing makes it afresh, not even for QUIT
    m_lossGivenUp = false;
    if (!Alive())
        return;
    try {
        Send("QUIT");
        ReadReplyUntil(Clock::now() +
                       std::chrono::milliseconds(std::min(m_timeouts.replyMs, 2000)));
    } catch (...) {
        // Leaving anyway.
    }
    m_dead = true;
    CloseSocket();
}
