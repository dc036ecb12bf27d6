#pragma once

// The control connection of one FTP connection. The replies are framed by
// FtpReplyParser from whatever the socket gives; every read waits only for the
// time left of its reply. The data connections are made here too, because we
// need active mode with a fallback to passive, NAT-proof passive addresses, our
// own time-outs and direct access to the data socket.

#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <QString>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "InternetException.h"
#include "InternetSession.h"
#include "ReplyParser.h"
#include "TlsLayer.h"

class FtpDataChannel;

class FtpControl {
public:
    // Connects, reads the greeting, logs in and sets up binary UTF-8 transfers.
    // While it runs, its socket is in pending (when given), so it can be cancelled.
    static std::unique_ptr<FtpControl> Open(const std::string& host, unsigned short port,
                                            const std::string& user, const std::string& password,
                                            const FtpTimeouts& timeouts, bool passive,
                                            PendingConnects* pending = nullptr,
                                            TlsMode tls = TlsMode::Off,
                                            CertificateTrust* trust = nullptr);
    ~FtpControl();
    FtpControl(const FtpControl&) = delete;
    FtpControl& operator=(const FtpControl&) = delete;

    // Sends a command and reads its reply. A connection found closed before the
    // command (the server's idle time-out, a restart, an earlier loss) is made
    // afresh first, in the same folder; one lost under a command that is safe to
    // send twice (a read, CWD, SIZE) is made afresh and the command sent again.
    // At most one fresh login per command, and none once one has failed. Throws
    // CInternetException when the connection is lost (closed, reset, 421, no reply
    // in time) and not made afresh here: it is then unusable (Alive() false); the
    // next command makes it afresh while WillRedial(). A stop while the reply is
    // due leaves it closed too, but with a fresh login due (ReconnectDue).
    FtpReply Command(const std::string& command);
    // The same, false on anything but a reply of the given class and on a stop
    // (the caller's stop request tells); a lost connection throws, as above.
    bool CommandOk(const std::string& command, int replyClass = 2, FtpReply* reply = nullptr);
    // Lost (not stopped, not closed on purpose), and the next command makes it
    // afresh first: whether a command that changes something was carried out is
    // then to be looked up, and a read may be run again whole.
    bool WillRedial() const;

    // Opens the data connection for a transfer command (RETR, STOR, LIST, MLSD)
    // and reads the server's preliminary reply. Throws CInternetException when the
    // server refuses (the refusal's reply in the message) or no data connection can
    // be made.
    // offset: the transfer starts there (REST, sent last before command); a
    // server that refuses it throws ERROR_FTP_NO_RESTART.
    Poco::Net::StreamSocket OpenData(const std::string& command, std::uint64_t offset = 0);
    // Reads the reply that ends a transfer.
    FtpReply ReadReply();
    // At the end of a download's data: the next transfer's passive port is asked
    // for now, so that its reply comes with the final one (ReadTransferEnd).
    void AskPassiveAhead();
    // The final reply of a transfer, and the answer to AskPassiveAhead if asked.
    FtpReply ReadTransferEnd();
    // Gets the control channel back in step after an abandoned transfer; when the
    // replies cannot be matched up, logs in afresh on a new control connection.
    // preliminaryDue: the transfer command's first reply has not been read yet.
    // Never throws. With a stop requested it gives the server half a second and,
    // short of an answer in step, leaves the connection closed (Alive() false)
    // with a fresh login due at the next command (ReconnectDue()).
    void AbortTransfer(bool preliminaryDue = false);

    // SIZE of a file, and its RNFR in the same go: a rename of it that comes
    // next needs only its RNTO (TakeRenameFrom). An RNFR left unused moves
    // nothing; the server forgets it at its next RNFR, and with the session.
    FtpReply SizeAndRenameFrom(const std::string& arg);
    // An upload's final reply said the file is stored; StoredJustNow() holds
    // until the next command: the file's rename is what usually follows.
    void NoteStored() { m_storedSent = m_sent, m_storedLogin = m_reconnects; }
    bool StoredJustNow() const { return m_storedSent == m_sent && m_storedLogin == m_reconnects; }
    // Whether the server holds an RNFR of arg from SizeAndRenameFrom, with
    // nothing sent since and no fresh login between; asked once.
    bool TakeRenameFrom(const std::string& arg);

    // Runs a listing command to the end; false when the server refuses it.
    bool FetchListing(const std::string& command, std::string& text);

    bool Alive() const { return !m_dead; }
    // Closed because a stop left it out of step (a reply or a transfer's end was
    // still due): the next command logs in afresh first and goes back to the
    // working folder, under its own time-outs and stop request.
    bool ReconnectDue() const { return m_dead && m_reconnectDue; }
    // A stop came after the last command was sent and before its final reply:
    // whether the server carried it out is not known.
    bool OutcomeUnknown() const { return m_cutShort; }
    // The fresh login due after a stop goes to this absolute folder rather than
    // to the last one a CWD was known to reach (a stop cut the way back short).
    void ReturnTo(const std::string& folder);
    bool Passive() const { return m_passive; }
    bool HasMlst() const { return m_hasMlst; }
    bool ListDashARefused() const { return m_listNoDashA; }
    void SetListDashARefused() { m_listNoDashA = true; }
    const FtpTimeouts& Timeouts() const { return m_timeouts; }
    const QString& ServerName() const { return m_serverName; }
    // How many times the control connection was made afresh (for tests).
    int Reconnects() const { return m_reconnects; }

    // The one open file of this connection, told when the connection goes away.
    FtpDataChannel* m_openFile = nullptr;

    void Quit();

    // True once the control connection runs over TLS (and so every data one).
    bool IsEncrypted() const { return m_tls; }

private:
    using Clock = std::chrono::steady_clock;

    // TLS (TlsControl.cpp): the handshake right after the connect (implicit) or
    // after AUTH TLS following the greeting, the protection of the data
    // connections, and the handshake on each new data connection.
    void StartTls();
    void SecureChannel();
    [[noreturn]] void TlsRefused(const FtpReply& reply);
    void TlsLoggedIn();
    Poco::Net::StreamSocket SecureDataSocket(const Poco::Net::StreamSocket& data);
    TlsMode m_tlsMode = TlsMode::Off;
    CertificateTrust* m_trust = nullptr;
    bool m_tls = false;
    // This connection logged in over TLS once: a fresh login of it requires TLS
    // even if the memory of TLS sites could not be written.
    bool m_tlsSeen = false;
    std::unique_ptr<Poco::Net::SecureStreamSocket> m_secure;
    QString m_fingerprint;

    FtpControl(const std::string& host, unsigned short port, const std::string& user,
               const std::string& password, const FtpTimeouts& timeouts);
    void Dial(PendingConnects* pending);
    void Greet();
    void Login();
    void Negotiate();
    bool Reconnect();
    // The fresh login of a connection found closed before a command (see Command).
    void RedialIfLost();
    bool ClosedWhileIdle();
    static bool Repeatable(const std::string& command);
    FtpReply CommandOnce(const std::string& command);
    QString LostText() const;
    void Remember(const std::string& command, const FtpReply& reply);

    // The only places that touch the control socket.
    bool Receive(Clock::time_point deadline);
    void SendRaw(const std::string& bytes, Clock::time_point deadline);
    void CloseSocket();
    [[noreturn]] void FailedWait(int lostError, const QString& lost);

    FtpReply ReadReplyUntil(Clock::time_point deadline);
    void Send(const std::string& line);
    void Send(const std::string& line, Clock::time_point deadline);
    [[noreturn]] void Fail(int error, const QString& message);

    enum class ActiveResult { Connected, Refused, Unavailable };
    ActiveResult TryActive(const std::string& command, Poco::Net::StreamSocket& data,
                           FtpReply& refusal);
    bool AcceptFromPeer(int listenFd, Clock::time_point deadline, bool* controlReady);
    Poco::Net::StreamSocket OpenPassive(const std::string& command);
    Poco::Net::StreamSocket OpenPassivePipelined(const std::string& command);
    Poco::Net::StreamSocket OpenPassiveAhead(const std::string& command);
    void NoteAhead(const FtpReply& reply);
    bool m_aheadAsked = false;
    std::uint16_t m_aheadPort = 0; // the port an EPSV asked ahead named
    std::uint64_t m_aheadSent = 0;
    int m_aheadLogin = 0;
    FtpReply FirstOfTwo(const std::string& first, const std::string& second);
    // REST for the transfer about to start, when it starts from an offset.
    void Restart();
    std::uint64_t m_restartAt = 0;
    Poco::Net::SocketAddress PassiveAddress();

    std::string m_host;
    unsigned short m_port;
    std::string m_user;
    std::string m_password;
    FtpTimeouts m_timeouts;
    QString m_serverName;
    Poco::Net::StreamSocket m_socket;
    FtpReplyParser m_parser;
    Poco::Net::SocketAddress m_peer;
    Poco::Net::SocketAddress m_local;
    // The CWDs that took us from the login folder to the working folder, replayed
    // after a fresh login.
    std::vector<std::string> m_cwdTrail;
    bool m_trailLost = false;
    int m_reconnects = 0;
    bool m_dead = true;
    bool m_reconnectDue = false;
    bool m_up = false;          // logged in once: a loss from then on may be made good
    bool m_dialing = false;     // a fresh login runs
    bool m_givenUp = false;     // closed on purpose, or a fresh login failed
    bool m_lossGivenUp = false; // given up after a loss: tried again a while later
    Clock::time_point m_givenUpAt{};
    void GiveUpAfterLoss();
    QString m_lostReason; // why it was given up after a loss
    bool m_replyOwed = false;
    bool m_cutShort = false;
    bool m_passive = false;
    bool m_noEpsv = false;
    std::uint64_t m_sent = 0; // sends so far, to tell that nothing went between two
    std::uint64_t m_storedSent = ~std::uint64_t(0); // m_sent when the last upload ended
    int m_storedLogin = 0;
    std::string m_renameFrom; // the path of an RNFR the server holds, sent as m_sent
    std::uint64_t m_renameSent = 0;
    int m_renameLogin = 0;
    bool m_epsvWorks = false; // an EPSV of this connection was answered with a port
    bool m_hasMlst = false;
    bool m_listNoDashA = false;
};

// Turns whatever POCO or the system threw into CInternetException; call inside a
// catch block.
[[noreturn]] void RethrowAsInternetException(int fallbackError);
