// Round trips saved on a distant server: two commands sent in one go where the
// second cannot do harm before the first's reply is read, and the next
// transfer's passive port asked for while the last one's final reply is on its
// way. Each reply is still read in its order, and a stop leaves a reply owed.
#include "FtpControl.h"
#include "Interrupt.h"
#include "SocketWait.h"

using Poco::Net::SocketAddress;
using Poco::Net::StreamSocket;

namespace {
QString FromServer(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}
} // namespace

// Sends two commands at once and reads the first one's reply; the second's
// stays owed, so a stop from now on leaves its outcome unknown.
FtpReply FtpControl::FirstOfTwo(const std::string& first, const std::string& second) {
    RedialIfLost();
    Send(first + "\r\n" + second);
    FtpReply reply = ReadReply();
    if (reply.code == 0 || reply.code == 421)
        Fail(ERROR_FTP_DROPPED, QStringLiteral("The server closed the connection."));
    m_replyOwed = true;
    return reply;
}

FtpReply FtpControl::SizeAndRenameFrom(const std::string& arg) {
    m_renameFrom.clear();
    const FtpReply size = FirstOfTwo("SIZE " + arg, "RNFR " + arg);
    const FtpReply from = ReadReply();
    if (from.code == 0 || from.code == 421)
        Fail(ERROR_FTP_DROPPED, QStringLiteral("The server closed the connection."));
    if (from.code == 350) {
        m_renameFrom = arg;
        m_renameSent = m_sent;
        m_renameLogin = m_reconnects;
    }
    return size;
}

bool FtpControl::TakeRenameFrom(const std::string& arg) {
    const bool held = Alive() && !m_renameFrom.empty() && m_renameFrom == arg &&
                      m_renameSent == m_sent && m_renameLogin == m_reconnects;
    m_renameFrom.clear();
    return held;
}

// EPSV and the transfer command in one go: the server queues the command until
// the data connection comes, so a file costs a round trip less. Only where
// EPSV has worked on this connection, and never with REST between: a refused
// REST would let the command run from the first byte.
StreamSocket FtpControl::OpenPassivePipelined(const std::string& command) {
    FtpReply reply = FirstOfTwo("EPSV", command);
    std::uint16_t port = 0;
    if (reply.code != 229 || !ParseEpsvPort(reply.text, &port)) {
        // The command's reply is still owed; the connection is got back in step
        // and the transfer asked for the slow way.
        AbortTransfer(true);
        m_epsvWorks = false;
        ftp::ThrowIfInterrupted();
        return OpenPassive(command);
    }
    StreamSocket data;
    try {
        ftp::Connect(data, SocketAddress(m_peer.host(), port), m_timeouts.connectMs);
    } catch (...) {
        AbortTransfer(true);
        RethrowAsInternetException(ERROR_INTERNET_CANNOT_CONNECT);
    }
    reply = ReadReply();
    if (reply.code == 0 || reply.code == 421)
        Fail(ERROR_FTP_DROPPED, QStringLiteral("The server closed the connection."));
    if (!reply.Is(1)) {
        data.close();
        throw CInternetException(ERROR_INTERNET_EXTENDED_ERROR, FromServer(reply.text));
    }
    return data;
}

void FtpControl::AskPassiveAhead() {
    m_aheadPort = 0;
    m_aheadAsked = false;
    if (!m_passive || !m_epsvWorks || !Alive() || ftp::Interrupted())
        return;
    try {
        Send("EPSV");
        m_aheadAsked = true;
    } catch (const CInternetException&) {
        // The connection is gone: the final reply's read says so.
    }
}

void FtpControl::NoteAhead(const FtpReply& reply) {
    std::uint16_t port = 0;
    if (reply.code != 229 || !ParseEpsvPort(reply.text, &port))
        return;
    m_aheadPort = port;
    m_aheadSent = m_sent;
    m_aheadLogin = m_reconnects;
}

FtpReply FtpControl::ReadTransferEnd() {
    if (!m_aheadAsked)
        return ReadReply();
    m_aheadAsked = false;
    FtpReply first = ReadReply();
    if (first.code == 0 || first.code == 421)
        return first;
    m_replyOwed = true;
    // EPSV went after the data had ended; only its 229 tells it from the
    // transfer's own reply, should a server answer it first.
    if (first.code == 229) {
        NoteAhead(first);
        return ReadReply();
    }
    try {
        NoteAhead(ReadReply());
    } catch (const CInternetException&) {
        // The transfer's end is known; the next command finds the connection so.
    }
    return first;
}

StreamSocket FtpControl::OpenPassiveAhead(const std::string& command) {
    const std::uint16_t port = m_aheadPort;
    m_aheadPort = 0;
    StreamSocket data;
    // Only while the server's listener is the one it named: nothing sent since.
    if (m_aheadSent != m_sent || m_aheadLogin != m_reconnects || !Alive())
        return data;
    try {
        ftp::Connect(data, SocketAddress(m_peer.host(), port), m_timeouts.connectMs);
    } catch (...) {
        return StreamSocket(); // the listener is gone (the server's time-out): asked afresh
    }
    try {
        Restart();
    } catch (...) {
        data.close();
        throw;
    }
    const FtpReply reply = Command(command);
    if (!reply.Is(1)) {
        data.close();
        throw CInternetException(ERROR_INTERNET_EXTENDED_ERROR, FromServer(reply.text));
    }
    return data;
}
