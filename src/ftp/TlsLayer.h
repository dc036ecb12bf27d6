#pragma once

// TLS for FTP (explicit and implicit FTPS), on POCO's NetSSL: POCO's SecureStreamSocket is a
// StreamSocket, so the control channel's reply reader and the data channel's
// block reads and writes keep working unchanged on top of it. The checks of the
// certificate are our own, made right after the handshake and before a single
// command (let alone a password) goes over the new channel.

#include <Poco/Net/Context.h>
#include <Poco/Net/SecureStreamSocket.h>
#include <Poco/Net/StreamSocket.h>
#include <QString>
#include <string>

#include "Certificate.h"

// How an FTP address asks for TLS.
enum class TlsMode {
    Auto,     // "host", "host:port": TLS when the server takes AUTH TLS, plain otherwise
              // (TLS or nothing once the host and port have shown TLS)
    Required, // "ftps://host[:port]" (port not 990), "ftpes://host[:port]": AUTH TLS or nothing
    Implicit, // "ftps://host:990": TLS from the first byte, before the greeting
    Off,      // "ftp://host[:port]": plain only
};

// The port on which "ftps://" means TLS from the first byte, as other clients
// and the hosting panels take it.
constexpr unsigned short kImplicitFtpsPort = 990;

// Takes the scheme off an address: "ftps://h:1/" gives "h:1" and Required.
// false for another scheme or a path after the host.
bool SplitFtpScheme(const QString& address, QString* rest, TlsMode* mode);

namespace Tls {

// The client context shared by every connection: the system's trust store and a
// session cache, so that data connections can resume the control's session.
Poco::Net::Context::Ptr ClientContext();

// The handshake over an open control connection, then the certificate checks
// (asking through trust when in doubt). Returns the secure socket and the
// certificate's fingerprint. Throws CInternetException; the plain socket must
// not be used after a failure. The handshake ends after timeoutMs, or at once on
// a stop request (ERROR_INTERNET_OPERATION_CANCELLED).
Poco::Net::SecureStreamSocket SecureControl(const Poco::Net::StreamSocket& plain,
                                            const std::string& host, unsigned short port,
                                            CertificateTrust& trust, QString* fingerprint,
                                            int timeoutMs);

// The handshake over a new data connection, resuming the control's session. A
// data connection that did not resume must show the control's certificate.
Poco::Net::SecureStreamSocket SecureData(const Poco::Net::StreamSocket& plain,
                                         const std::string& host,
                                         Poco::Net::SecureStreamSocket& control,
                                         const QString& controlFingerprint, int timeoutMs);

// The description of a certificate, with the problems that the chain check found
// and whether it names host.
CertificateVerdict Inspect(const Poco::Net::SecureStreamSocket& socket, const std::string& host,
                           unsigned short port, unsigned chainProblems);

// True when the socket speaks TLS.
bool IsSecure(const Poco::Net::StreamSocket& socket);

// TLS hands out one record (16 KiB at most) per read; this takes the records
// that have already arrived too, without waiting, so that large reads stay
// large. Returns the bytes added; an error is left for the next read to meet.
int ReceiveMore(Poco::Net::StreamSocket& socket, char* buffer, int room);

// On a secure data connection: true when the server has ended it cleanly, within
// waitMs, with nothing left to read.
bool PeerFinished(Poco::Net::StreamSocket& socket, int waitMs);

// On a secure data connection whose data has all been sent: the close_notify
// that tells the server the upload is whole, waiting up to waitMs for room.
void EndSending(Poco::Net::StreamSocket& socket, int waitMs);

// True when the certificate was issued for host (a name or an IP address).
bool MatchesHost(const Poco::Net::SecureStreamSocket& socket, const std::string& host);

} // namespace Tls
