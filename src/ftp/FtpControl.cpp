#include "FtpControl.h"

#include <Poco/Exception.h>
#include <Poco/Net/DialogSocket.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/ServerSocket.h>
#include <chrono>
#include <cstdio>
#include <poll.h>

#include "FtpDataChannel.h"

using Poco::Net::SocketAddress;
using Poco::Net::StreamSocket;

namespace {

constexpr std::size_t kMaxLine = 8192;          // a reply line longer than this is hostile
constexpr std::size_t kMaxReply = 1 << 20;      // all lines of one reply together
constexpr std::size_t kMaxListing = 512u << 20; // a listing larger than this is refused
constexpr const char* kAnonymousPassword = "velmar98@";

Poco::Timespan Ms(int ms) {
    return Poco::Timespan(std::int64_t(ms) * 1000);
}

QString FromServer(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

bool StartsWithCode(const std::string& line, int code) {
    return line.size() >= 4 && line[3] == ' ' && line[0] == char('0' + code / 100 % 10) &&
           line[1] == char('0' + code / 10 % 10) && line[2] == char('0' + code % 10);
}

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

bool CommandPath(const QString& path, std::string& out) {
    out = path.toUtf8().toStdString();
    return out.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

FtpControl::FtpControl(const StreamSocket& socket, const FtpTimeouts& timeouts)
    : Poco::Net::FTPClientSession(socket, false), m_timeouts(timeouts) {
    setTimeout(Ms(m_timeouts.replyMs));
    _pControlSocket->setSendTimeout(Ms(m_timeouts.replyMs));
    m_peer = _pControlSocket->peerAddress();
    m_local = _pControlSocket->address();
}

FtpControl::~FtpControl() {
    if (m_openFile)
        m_openFile->Detach();
    try {
        if (isOpen())
            close();
    } catch (...) {
        // The control socket is gone either way.
    }
}

std::unique_ptr<FtpControl> FtpControl::Open(const std::string& host, unsigned short port,
                                             const std::string& user, const std::string& password,
                                             const FtpTimeouts& timeouts, bool passive) {
    std::unique_ptr<FtpControl> control;
    try {
        StreamSocket socket;
        socket.connect(SocketAddress(host, port), Ms(timeouts.connectMs));
        socket.setNoDelay(true);
        control.reset(new FtpControl(socket, timeouts));
    } catch (...) {
        RethrowAsInternetException(ERROR_INTERNET_CANNOT_CONNECT);
    }
    control->m_serverName = QString::fromStdString(host);
    control->m_passive = passive;
    FtpReply greeting = control->ReadReply();
    while (greeting.code == 120)
        greeting = control->ReadReply();
    if (!greeting.Is(2))
        throw CInternetException(ERROR_INTERNET_CANNOT_CONNECT,
                                 QStringLiteral("The server refused the session: ") +
                                     FromServer(greeting.text));
    control->Login(user, password);
    control->Negotiate();
    return control;
}

void FtpControl::Login(const std::string& user, const std::string& password) {
    const bool anonymous = user.empty() || user == "anonymous" || user == "ftp";
    const std::string name = user.empty() ? std::string("anonymous") : user;
    const std::string pass = anonymous && password.empty() ? kAnonymousPassword : password;
    if (name.find_first_of("\r\n") != std::string::npos ||
        pass.find_first_of("\r\n") != std::string::npos)
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
        if (m_hasMlst)
            CommandOk("OPTS MLST type;size;modify;");
    }
    FtpReply type = Command("TYPE I");
    if (!type.Is(2))
        throw CInternetException(ERROR_INTERNET_EXTENDED_ERROR,
                                 QStringLiteral("The server refused binary transfers: ") +
                                     FromServer(type.text));
}

void FtpControl::Fail(int error, const QString& message) {
    m_dead = true;
    try {
        _pControlSocket->close();
    } catch (...) {
    }
    throw CInternetException(error, message);
}

void FtpControl::Send(const std::string& line) {
    if (!Alive())
        throw CInternetException(ERROR_FTP_DROPPED,
                                 QStringLiteral("The connection to the server is closed."));
    try {
        _pControlSocket->sendMessage(line);
    } catch (...) {
        m_dead = true;
        RethrowAsInternetException(ERROR_FTP_DROPPED);
    }
}

FtpReply FtpControl::ReadReply() {
    return ReadReplyWithin(m_timeouts.replyMs);
}

FtpReply FtpControl::ReadReplyWithin(int timeoutMs) {
    if (!Alive())
        throw CInternetException(ERROR_FTP_DROPPED,
                                 QStringLiteral("The connection to the server is closed."));
    // A drip-feeding server must not stretch one reply beyond its time-out either.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    FtpReply reply;
    std::string line;
    try {
        if (timeoutMs != m_timeouts.replyMs)
            _pControlSocket->setReceiveTimeout(Ms(timeoutMs));
        for (;;) {
            line.clear();
            int ch = _pControlSocket->get();
            while (ch != -1 && ch != '\n') {
                if (ch != '\r')
                    line.push_back(char(ch));
                if (line.size() > kMaxLine)
                    Fail(ERROR_INTERNET_EXTENDED_ERROR,
                         QStringLiteral("The server sent a malformed reply."));
                ch = _pControlSocket->get();
            }
            if (ch == -1 && line.empty()) {
                m_dead = true;
                reply.code = 0;
                break;
            }
            if (!reply.text.empty())
                reply.text.push_back('\n');
            reply.text += line;
            if (reply.text.size() > kMaxReply)
                Fail(ERROR_INTERNET_EXTENDED_ERROR,
                     QStringLiteral("The server sent a malformed reply."));
            if (reply.code == 0) {
                if (line.size() < 3 || !std::isdigit(static_cast<unsigned char>(line[0])) ||
                    !std::isdigit(static_cast<unsigned char>(line[1])) ||
                    !std::isdigit(static_cast<unsigned char>(line[2])))
                    Fail(ERROR_INTERNET_EXTENDED_ERROR,
                         QStringLiteral("The server sent a malformed reply."));
                reply.code = std::stoi(line.substr(0, 3));
                if (line.size() == 3 || line[3] != '-')
                    break;
            } else if (StartsWithCode(line, reply.code) || line.size() == 3) {
                break;
            }
            if (ch == -1) {
                m_dead = true;
                reply.code = 0;
                break;
            }
            if (std::chrono::steady_clock::now() > deadline)
                Fail(ERROR_INTERNET_TIMEOUT, QStringLiteral("The server did not answer in time."));
        }
        if (timeoutMs != m_timeouts.replyMs)
            _pControlSocket->setReceiveTimeout(Ms(m_timeouts.replyMs));
    } catch (const CInternetException&) {
        throw;
    } catch (...) {
        m_dead = true;
        RethrowAsInternetException(ERROR_FTP_DROPPED);
    }
    return reply;
}

FtpReply FtpControl::Command(const std::string& command) {
    Send(command);
    FtpReply reply = ReadReply();
    if (reply.code == 0)
        throw CInternetException(ERROR_FTP_DROPPED,
                                 QStringLiteral("The server closed the connection."));
    return reply;
}

bool FtpControl::CommandOk(const std::string& command, int replyClass, FtpReply* reply) {
    try {
        FtpReply r = Command(command);
        const bool ok = r.Is(replyClass);
        if (reply)
            *reply = std::move(r);
        return ok;
    } catch (const CInternetException&) {
        return false;
    }
}

bool FtpControl::WaitReadable(int fd1, int fd2, int timeoutMs, int* readyFd) {
    pollfd fds[2] = {{fd1, POLLIN, 0}, {fd2, POLLIN, 0}};
    const int n = fd2 >= 0 ? 2 : 1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        const int rc = ::poll(fds, nfds_t(n), int(left > 0 ? left : 0));
        if (rc > 0) {
            *readyFd = (fds[0].revents != 0) ? fd1 : fd2;
            return true;
        }
        if (rc == 0 || errno != EINTR)
            return false;
    }
}

FtpControl::ActiveResult FtpControl::TryActive(const std::string& command, StreamSocket& data,
                                               FtpReply& refusal) {
    Poco::Net::ServerSocket listener;
    try {
        listener.bind(SocketAddress(m_local.host(), 0));
        listener.listen(1);
    } catch (...) {
        return ActiveResult::Unavailable;
    }
    const SocketAddress addr = listener.address();
    std::string port;
    if (addr.family() == SocketAddress::IPv4) {
        std::string host = addr.host().toString();
        for (char& c : host)
            if (c == '.')
                c = ',';
        port = "PORT " + host + "," + std::to_string(addr.port() / 256) + "," +
               std::to_string(addr.port() % 256);
    } else {
        port = "EPRT |2|" + addr.host().toString() + "|" + std::to_string(addr.port()) + "|";
    }
    if (!Command(port).Is(2))
        return ActiveResult::Unavailable;
    Send(command);
    const int controlFd = _pControlSocket->impl()->sockfd();
    const int listenFd = listener.impl()->sockfd();
    int ready = -1;
    if (!WaitReadable(listenFd, controlFd, m_timeouts.activeAcceptMs, &ready)) {
        listener.close();
        AbortTransfer();
        return ActiveResult::Unavailable;
    }
    if (ready == controlFd) {
        FtpReply reply = ReadReply();
        if (reply.code == 425 || reply.code == 426 || reply.code == 0) {
            if (reply.code == 0)
                Fail(ERROR_FTP_DROPPED, QStringLiteral("The server closed the connection."));
            return ActiveResult::Unavailable;
        }
        if (!reply.Is(1)) {
            refusal = reply;
            return ActiveResult::Refused;
        }
        if (!WaitReadable(listenFd, -1, m_timeouts.activeAcceptMs, &ready)) {
            listener.close();
            AbortTransfer();
            return ActiveResult::Unavailable;
        }
        data = listener.acceptConnection();
        return ActiveResult::Connected;
    }
    data = listener.acceptConnection();
    FtpReply reply = ReadReply();
    if (!reply.Is(1)) {
        data.close();
        refusal = reply;
        return ActiveResult::Refused;
    }
    return ActiveResult::Connected;
}

SocketAddress FtpControl::PassiveAddress() {
    if (!m_noEpsv) {
        FtpReply reply = Command("EPSV");
        if (reply.code == 229) {
            // "(|||port|)": the host is always the one we talk to.
            const std::size_t open = reply.text.find('(');
            if (open != std::string::npos && open + 4 < reply.text.size()) {
                const char d = reply.text[open + 1];
                const std::size_t p = open + 4;
                const std::size_t end = reply.text.find(d, p);
                if (reply.text[open + 2] == d && reply.text[open + 3] == d &&
                    end != std::string::npos) {
                    const int port = std::atoi(reply.text.substr(p, end - p).c_str());
                    if (port > 0 && port < 65536)
                        return SocketAddress(m_peer.host(), Poco::UInt16(port));
                }
            }
        }
        m_noEpsv = true;
    }
    FtpReply reply = Command("PASV");
    if (reply.code != 227)
        throw CInternetException(ERROR_INTERNET_EXTENDED_ERROR,
                                 QStringLiteral("The server refused passive mode: ") +
                                     FromServer(reply.text));
    int n[6] = {};
    const std::size_t first = reply.text.find_first_of("0123456789", 4);
    if (first == std::string::npos ||
        std::sscanf(reply.text.c_str() + first, "%d,%d,%d,%d,%d,%d", &n[0], &n[1], &n[2], &n[3],
                    &n[4], &n[5]) != 6 ||
        n[4] < 0 || n[4] > 255 || n[5] < 0 || n[5] > 255 || (n[4] == 0 && n[5] == 0))
        throw CInternetException(ERROR_INTERNET_EXTENDED_ERROR,
                                 QStringLiteral("The server's passive reply is malformed."));
    // The address in the reply is ignored: behind NAT it is a private one that we
    // cannot reach, and a server that names a third host is not to be trusted.
    return SocketAddress(m_peer.host(), Poco::UInt16(n[4] * 256 + n[5]));
}

StreamSocket FtpControl::OpenPassive(const std::string& command) {
    const SocketAddress addr = PassiveAddress();
    StreamSocket data;
    try {
        data.connect(addr, Ms(m_timeouts.connectMs));
    } catch (...) {
        // The server is left waiting for a connection; its next command ends that.
        RethrowAsInternetException(ERROR_INTERNET_CANNOT_CONNECT);
    }
    FtpReply reply = Command(command);
    if (!reply.Is(1)) {
        data.close();
        throw CInternetException(ERROR_INTERNET_EXTENDED_ERROR, FromServer(reply.text));
    }
    return data;
}

StreamSocket FtpControl::OpenData(const std::string& command) {
    StreamSocket data;
    try {
        if (!m_passive) {
            FtpReply refusal;
            switch (TryActive(command, data, refusal)) {
            case ActiveResult::Connected:
                break;
            case ActiveResult::Refused:
                throw CInternetException(ERROR_INTERNET_EXTENDED_ERROR, FromServer(refusal.text));
            case ActiveResult::Unavailable:
                // The server cannot reach us (firewall, NAT, policy): passive from now
                // on, for every transfer of this connection.
                m_passive = true;
                data = OpenPassive(command);
                break;
            }
        } else {
            data = OpenPassive(command);
        }
        data.setReceiveTimeout(Ms(m_timeouts.dataMs));
        data.setSendTimeout(Ms(m_timeouts.dataMs));
    } catch (...) {
        RethrowAsInternetException(ERROR_INTERNET_CANNOT_CONNECT);
    }
    return data;
}

void FtpControl::AbortTransfer() {
    // The replies still due are unknown (the transfer's own end, ABOR's answer, or
    // both), so ABOR is followed by SYST, whose 215 no other command gives: every
    // reply up to it belongs to what we abandoned.
    try {
        Send("ABOR");
        Send("SYST");
        for (int i = 0; i < 8; ++i) {
            const FtpReply reply = ReadReply();
            if (reply.code == 0)
                Fail(ERROR_FTP_DROPPED, QStringLiteral("The server closed the connection."));
            if (reply.code == 215 || reply.code == 500 || reply.code == 502)
                return;
        }
        Fail(ERROR_INTERNET_EXTENDED_ERROR,
             QStringLiteral("The server's replies are out of step."));
    } catch (const CInternetException&) {
        m_dead = true;
    }
}

bool FtpControl::FetchListing(const std::string& command, std::string& text) {
    text.clear();
    StreamSocket data;
    try {
        data = OpenData(command);
    } catch (const CInternetException& e) {
        if (e.m_dwError == ERROR_INTERNET_EXTENDED_ERROR && Alive())
            return false;
        throw;
    }
    try {
        char buffer[65536];
        for (;;) {
            const int n = data.receiveBytes(buffer, sizeof buffer);
            if (n <= 0)
                break;
            if (text.size() + std::size_t(n) > kMaxListing) {
                data.close();
                AbortTransfer();
                text.clear();
                return false;
            }
            text.append(buffer, std::size_t(n));
        }
        data.close();
    } catch (...) {
        data.close();
        AbortTransfer();
        RethrowAsInternetException(ERROR_INTERNET_CONNECTION_ABORTED);
    }
    const FtpReply end = ReadReply();
    if (end.code == 0)
        throw CInternetException(ERROR_FTP_DROPPED,
                                 QStringLiteral("The server closed the connection."));
    return end.Is(2);
}

void FtpControl::Quit() {
    if (!Alive())
        return;
    try {
        Send("QUIT");
        ReadReplyWithin(std::min(m_timeouts.replyMs, 2000));
    } catch (...) {
        // Leaving anyway.
    }
    m_dead = true;
    try {
        close();
    } catch (...) {
    }
}
