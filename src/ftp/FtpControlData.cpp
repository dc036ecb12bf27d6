// The data connections of FtpControl: active with a fallback to passive, and the
// listings read through them.
#include <Poco/Net/ServerSocket.h>
#include <cerrno>
#include <poll.h>

#include "FtpControl.h"
#include "Interrupt.h"
#include "SocketWait.h"

using Poco::Net::SocketAddress;
using Poco::Net::StreamSocket;

namespace {

constexpr std::size_t kMaxListing = 512u << 20; // a listing larger than this is refused

QString FromServer(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

std::string PortCommand(const SocketAddress& addr) {
    if (addr.family() != SocketAddress::IPv4)
        return "EPRT |2|" + addr.host().toString() + "|" + std::to_string(addr.port()) + "|";
    std::string host = addr.host().toString();
    for (char& c : host)
        if (c == '.')
            c = ',';
    return "PORT " + host + "," + std::to_string(addr.port() / 256) + "," +
           std::to_string(addr.port() % 256);
}

// Waits until the listener or (when watched) the control socket is readable.
// 0: time-out, 1: the listener, 2: the control socket, 3: a stop request.
int WaitEither(int listenFd, int controlFd, std::chrono::steady_clock::time_point deadline) {
    pollfd fds[2] = {{listenFd, POLLIN, 0}, {controlFd, POLLIN, 0}};
    const nfds_t n = controlFd >= 0 ? 2 : 1;
    switch (ftp::WaitFor(fds, n, deadline)) {
    case ftp::WaitResult::TimedOut:
        return 0;
    case ftp::WaitResult::Stopped:
        return 3;
    case ftp::WaitResult::Ready:
        break;
    }
    if (fds[0].revents != 0)
        return 1;
    return n == 2 && fds[1].revents != 0 ? 2 : 0;
}

} // namespace

FtpControl::ActiveResult FtpControl::TryActive(const std::string& command, StreamSocket& data,
                                               FtpReply& refusal) {
    Poco::Net::ServerSocket listener;
    try {
        listener.bind(SocketAddress(m_local.host(), 0));
        listener.listen(1);
    } catch (...) {
        return ActiveResult::Unavailable;
    }
    // PORT is never sent along with the command: some servers answer it only
    // once they have connected, after the command's own reply.
    if (!Command(PortCommand(listener.address())).Is(2))
        return ActiveResult::Unavailable;
    Restart();
    Send(command);
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_timeouts.activeAcceptMs);
    bool preliminary = false;
    while (!data.impl()->initialized()) {
        const int ready = !preliminary && m_parser.HasReply()
                              ? 2
                              : WaitEither(listener.impl()->sockfd(),
                                           preliminary ? -1 : m_socket.impl()->sockfd(), deadline);
        if (ready == 0 || ready == 3) {
            listener.close();
            AbortTransfer(!preliminary);
            if (ready == 3)
                ftp::ThrowCancelled();
            return ActiveResult::Unavailable;
        }
        if (ready == 2) {
            FtpReply reply = ReadReply();
            if (reply.code == 0 || reply.code == 421)
                Fail(ERROR_FTP_DROPPED, QStringLiteral("The server closed the connection."));
            if (reply.code == 425 || reply.code == 426)
                return ActiveResult::Unavailable;
            if (!reply.Is(1)) {
                refusal = reply;
                return ActiveResult::Refused;
            }
            preliminary = true;
            continue;
        }
        SocketAddress from;
        StreamSocket incoming = listener.acceptConnection(from);
        // Only the server may supply the data; whoever else got to the port first
        // is sent away and the wait goes on.
        if (from.host() == m_peer.host())
            data = incoming;
        else
            incoming.close();
    }
    if (!preliminary) {
        FtpReply reply = ReadReply();
        if (reply.code == 0 || reply.code == 421)
            Fail(ERROR_FTP_DROPPED, QStringLiteral("The server closed the connection."));
        if (!reply.Is(1)) {
            data.close();
            refusal = reply;
            return ActiveResult::Refused;
        }
    }
    return ActiveResult::Connected;
}

SocketAddress FtpControl::PassiveAddress() {
    // The address in a reply is ignored: behind NAT it is a private one that we
    // cannot reach, and a server that names a third host is not to be trusted.
    std::uint16_t port = 0;
    if (!m_noEpsv) {
        const FtpReply reply = Command("EPSV");
        if (reply.code == 229) {
            if (!ParseEpsvPort(reply.text, &port))
                throw CInternetException(
                    ERROR_INTERNET_EXTENDED_ERROR,
                    QStringLiteral("The server's passive reply is malformed: ") +
                        FromServer(reply.text));
            m_epsvWorks = true;
            return SocketAddress(m_peer.host(), port);
        }
        m_noEpsv = true;
    }
    const FtpReply reply = Command("PASV");
    if (reply.code != 227)
        throw CInternetException(ERROR_INTERNET_EXTENDED_ERROR,
                                 QStringLiteral("The server refused passive mode: ") +
                                     FromServer(reply.text));
    if (!ParsePasvPort(reply.text, &port))
        throw CInternetException(ERROR_INTERNET_EXTENDED_ERROR,
                                 QStringLiteral("The server's passive reply is malformed: ") +
                                     FromServer(reply.text));
    return SocketAddress(m_peer.host(), port);
}

StreamSocket FtpControl::OpenPassive(const std::string& command) {
    if (m_aheadPort != 0) {
        StreamSocket data = OpenPassiveAhead(command);
        if (data.impl()->initialized())
            return data;
    }
    if (m_epsvWorks && m_restartAt == 0)
        return OpenPassivePipelined(command);
    const SocketAddress addr = PassiveAddress();
    StreamSocket data;
    try {
        ftp::Connect(data, addr, m_timeouts.connectMs);
    } catch (...) {
        // The server is left waiting for a connection; its next command ends that.
        RethrowAsInternetException(ERROR_INTERNET_CANNOT_CONNECT);
    }
    try {
        Restart();
    } catch (...) {
        data.close();
        throw;
    }
    FtpReply reply = Command(command);
    if (!reply.Is(1)) {
        data.close();
        throw CInternetException(ERROR_INTERNET_EXTENDED_ERROR, FromServer(reply.text));
    }
    return data;
}

void FtpControl::Restart() {
    if (m_restartAt == 0)
        return;
    const FtpReply reply = Command("REST " + std::to_string(m_restartAt));
    if (reply.code != 350)
        throw CInternetException(ERROR_FTP_NO_RESTART,
                                 QStringLiteral("The server will not start a transfer from an "
                                                "offset: ") +
                                     FromServer(reply.text));
}

// The one place where data connections are made.
StreamSocket FtpControl::OpenData(const std::string& command, std::uint64_t offset) {
    m_restartAt = offset;
    struct Reset {
        std::uint64_t& at;
        ~Reset() { at = 0; }
    } reset{m_restartAt};
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
        if (m_tls)
            data = SecureDataSocket(data);
        // Reads and writes wait in poll (ReceiveSome, SendSome), each up to the
        // data time-out for something to move.
        ftp::UseNonBlocking(data);
    } catch (...) {
        RethrowAsInternetException(ERROR_INTERNET_CANNOT_CONNECT);
    }
    return data;
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
            const int n = ftp::ReceiveSome(data, buffer, sizeof buffer, m_timeouts.dataMs);
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
    if (end.code == 0 || end.code == 421)
        throw CInternetException(ERROR_FTP_DROPPED,
                                 QStringLiteral("The server closed the connection."));
    return end.Is(2);
}
