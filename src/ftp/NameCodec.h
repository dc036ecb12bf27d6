#pragma once

// The bytes of names on the wire, and the names the user sees.
//
// Servers that speak UTF-8 get UTF-8. Servers that do not (no "UTF8" in FEAT) often
// hold names in Latin-1 or Windows-1252: such a name is shown decoded as
// Windows-1252, where every byte stands for one character, and its bytes are kept
// so that every command about it sends them back unchanged. The kept bytes belong
// to the connections to one server (host, port and user) while any of them is
// open: a name is never sent to a server as bytes another server sent.

#include <QString>
#include <string>
#include <string_view>

class FtpControl;

namespace names {

// True when bytes are well-formed UTF-8.
bool IsUtf8(std::string_view bytes);

// A name as a server sent it: UTF-8 where it is valid UTF-8, else Windows-1252 (the
// five bytes Windows-1252 leaves out stand for the C1 characters of the same code,
// so no two byte strings give the same text).
QString Decode(std::string_view bytes);

// Windows-1252 bytes of text; false when a character has none.
bool EncodeWindows1252(const QString& text, std::string& out);

} // namespace names

class NameCodec {
public:
    // A logged-in connection and what its server said about UTF-8; connections to
    // the same server and user share the kept names. Called again after a fresh login.
    static void Attach(const FtpControl* control, const std::string& server, bool utf8);
    // The connection is gone; its server's kept names go with its last connection.
    static void Detach(const FtpControl* control);

    // A name a listing or a reply of this connection gave: kept when its bytes are not
    // UTF-8, so that the same bytes go back.
    static void Learn(const FtpControl* control, std::string_view raw, const QString& shown);
    // A path the server sent (PWD), decoded folder by folder and learnt.
    static QString DecodePath(const FtpControl* control, std::string_view raw);

    // The bytes of a path for a command on this connection: the kept bytes of each
    // name the server sent, ASCII as it is, any other name in UTF-8, or in
    // Windows-1252 for a server without UTF-8 that has shown such names. False, with
    // the reason in error, when a name has no bytes on this server or would end the
    // command early (a line end or NUL).
    static bool Encode(const FtpControl* control, const QString& path, std::string& out,
                       QString* error = nullptr);
};

// The bytes of a path for a command on control (NameCodec::Encode); false when it has
// none. error, when given, then tells why.
bool CommandPath(const FtpControl& control, const QString& path, std::string& out,
                 QString* error = nullptr);
