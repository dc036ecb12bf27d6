#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>
#include <string>

struct _LIBSSH2_SESSION;

// RSA logins signed with SHA-256 ("rsa-sha2-256"). libssh2 1.10 signs an RSA
// login only with SHA-1 ("ssh-rsa"), which OpenSSH refuses since 8.8, for key
// files and agent keys alike. libssh2 names the login's algorithm after the key
// blob's own type name, so the blob goes out under the name "rsa-sha2-256",
// which OpenSSH reads as the same RSA key, and the signature is made here.
// Other servers may not read a blob so named: this is for OpenSSH's only.
namespace sftp::rsa {

// A raw RSA signature (PKCS #1 v1.5, SHA-256) of data; nothing when it cannot
// be made (a locked key, an agent that says no).
using Signer = std::function<std::optional<QByteArray>(const QByteArray& data)>;

// Whether the server of this banner takes the renamed blob: OpenSSH from 7.2
// (its first with rsa-sha2-256); it refuses SHA-1 RSA logins from 8.8 on. Other
// servers, and older OpenSSH, get libssh2's SHA-1 login.
bool ServerReadsRenamedBlob(const QByteArray& banner);

// Whether a public key blob is an RSA key's.
bool IsRsa(const QByteArray& blob);

// One step of the login with blob (the key's "ssh-rsa" blob) and sign; returns
// what libssh2_userauth_publickey returns: call it again on EAGAIN.
int Login(_LIBSSH2_SESSION* session, const std::string& user, const QByteArray& blob,
          const Signer& sign);

// The agent at socket signs with the key of blob.
Signer AgentSigner(const QString& socket, const QByteArray& blob);

// An RSA key file: its blob, from the file or the ".pub" beside it, when the
// key is RSA. Nothing for another key type or a file it cannot read.
std::optional<QByteArray> KeyFileBlob(const QString& path);
// Signs with the key file, unlocked with passphrase. OpenSSH's own format is
// read when it is not encrypted (its encryption needs bcrypt, which OpenSSL
// lacks); PEM and PKCS #8 files, encrypted or not, through OpenSSL.
Signer KeyFileSigner(const QString& path, const QByteArray& passphrase);
// Whether KeyFileSigner can ever sign with this file (false: an encrypted key
// in OpenSSH's own format).
bool CanSign(const QString& path);

} // namespace sftp::rsa
