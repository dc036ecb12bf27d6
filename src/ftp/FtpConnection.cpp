#include "FtpConnection.h"

#include <string_view>

#include "FtpControl.h"
#include "FtpDataChannel.h"
#include "FtpFileFind.h"
#include "InternetFile.h"
#include "Interrupt.h"
#include "NameCodec.h"

CFtpConnection::CFtpConnection(std::unique_ptr<FtpControl> control)
    : m_control(std::move(control)) {}

CFtpConnection::~CFtpConnection() {
    Close();
}

namespace {
const QString kUnknown = QStringLiteral(
    "The connection to the server was lost before it answered, and what is on the server "
    "now does not tell whether the command was carried out.");

bool Stopped(const CInternetException& e) {
    return e.m_dwError == ERROR_INTERNET_OPERATION_CANCELLED || ftp::Interrupted();
}

// A reply for a command that the server carried out before the connection was
// lost, as the look-up afterwards showed.
FtpReply CarriedOut() {
    return FtpReply{250, "250 Done (seen after the connection was made afresh)."};
}

// Whether path is on the server; the look-up makes a lost connection afresh.
// Throws when it cannot be looked up.
bool IsThere(CFtpConnection& connection, const QString& path) {
    CFtpFileFind find(&connection);
    const bool found = find.FindFile(path);
    if (find.ConnectionLost())
        throw CInternetException(ERROR_FTP_DROPPED, find.ErrorText());
    if (find.Failed())
        throw CInternetException(ERROR_INTERNET_EXTENDED_ERROR, kUnknown);
    return found;
}

// Runs send; a stop ends it with false, never a throw (the caller's stop request
// tells).
template <typename Fn> bool UnlessStopped(Fn&& send) {
    try {
        return send();
    } catch (const CInternetException& e) {
        if (Stopped(e))
            return false;
        throw;
    }
}
} // namespace

FtpReply CFtpConnection::Change(const char* verb, const QString& path, const std::string& arg) {
    const std::string command = std::string(verb) + ' ' + arg;
    try {
        return m_control->Command(command);
    } catch (const CInternetException& e) {
        if (Stopped(e) || !m_control->WillRedial())
            throw;
    }
    // Lost before the reply: sent twice it might do harm, or fail for having
    // been done. What is on the server tells, once the connection is made afresh.
    const bool makes = std::string_view(verb) == "MKD";
    if (IsThere(*this, path) == makes)
        return CarriedOut();
    return m_control->Command(command);
}

FtpReply CFtpConnection::RenamePath(const QString& from, const std::string& source,
                                    const QString& to, const std::string& target) {
    auto send = [&] {
        // An RNFR sent along with the SIZE just before: RNTO alone completes
        // it. A server that says it holds no RNFR (503) gets both again.
        if (m_control->TakeRenameFrom(source)) {
            FtpReply reply = m_control->Command("RNTO " + target);
            if (reply.code != 503 || !m_control->Alive())
                return reply;
        }
        FtpReply reply = m_control->Command("RNFR " + source);
        return reply.Is(3) ? m_control->Command("RNTO " + target) : reply;
    };
    try {
        return send();
    } catch (const CInternetException& e) {
        if (Stopped(e) || !m_control->WillRedial())
            throw;
    }
    // RNFR alone moves nothing, and RNTO may have moved it: the two names tell.
    const bool fromThere = IsThere(*this, from);
    const bool toThere = IsThere(*this, to);
    if (!fromThere && toThere)
        return CarriedOut();
    if (fromThere && !toThere)
        return send();
    throw CInternetException(ERROR_INTERNET_EXTENDED_ERROR, kUnknown);
}

bool CFtpConnection::PathCommand(const char* verb, const QString& path) {
    std::string arg;
    if (path.isEmpty() || !CommandPath(*m_control, path, arg) || m_control->m_openFile)
        return false;
    if (std::string_view(verb) == "CWD")
        return m_control->CommandOk("CWD " + arg);
    return UnlessStopped([&] { return Change(verb, path, arg).Is(2); });
}

bool CFtpConnection::SetCurrentDirectory(const QString& directory) {
    return PathCommand("CWD", directory);
}

bool CFtpConnection::GetCurrentDirectory(QString& directory) {
    FtpReply reply;
    if (m_control->m_openFile || !m_control->CommandOk("PWD", 2, &reply) || reply.code != 257)
        return false;
    // 257 "/path with ""quotes""" is current directory
    const std::size_t open = reply.text.find('"');
    if (open == std::string::npos)
        return false;
    std::string path;
    for (std::size_t i = open + 1; i < reply.text.size(); ++i) {
        if (reply.text[i] == '"') {
            if (i + 1 < reply.text.size() && reply.text[i + 1] == '"') {
                path.push_back('"');
                ++i;
                continue;
            }
            directory = NameCodec::DecodePath(m_control.get(), path);
            return true;
        }
        path.push_back(reply.text[i]);
    }
    return false;
}

bool CFtpConnection::CreateDirectory(const QString& path) {
    return PathCommand("MKD", path);
}

bool CFtpConnection::RemoveDirectory(const QString& path) {
    return PathCommand("RMD", path);
}

bool CFtpConnection::Remove(const QString& path) {
    return PathCommand("DELE", path);
}

bool CFtpConnection::Rename(const QString& from, const QString& to) {
    std::string target;
    std::string source;
    if (to.isEmpty() || !CommandPath(*m_control, to, target) || from.isEmpty() ||
        !CommandPath(*m_control, from, source) || m_control->m_openFile)
        return false;
    return UnlessStopped([&] { return RenamePath(from, source, to, target).Is(2); });
}

CInternetFile* CFtpConnection::OpenFile(const QString& path, unsigned access, unsigned, int,
                                        std::uint64_t offset) {
    if (m_control->m_openFile)
        throw CInternetException(ERROR_FTP_TRANSFER_IN_PROGRESS,
                                 QStringLiteral("A file is already open on this connection."));
    std::string arg;
    QString why = QStringLiteral("The file name is not valid.");
    if (path.isEmpty() || !CommandPath(*m_control, path, arg, &why))
        throw CInternetException(ERROR_INTERNET_EXTENDED_ERROR, why);
    const bool upload = (access & GENERIC_WRITE) != 0;
    const char* verb = !upload ? "RETR " : (access & GENERIC_WRITE_NEW) ? "APPE " : "STOR ";
    Poco::Net::StreamSocket data = m_control->OpenData(verb + arg, offset);
    auto channel = std::make_unique<FtpDataChannel>(m_control.get(), data,
                                                    upload ? FtpDataChannel::Direction::Upload
                                                           : FtpDataChannel::Direction::Download);
    return new CInternetFile(std::move(channel));
}

void CFtpConnection::Close() {
    if (!m_control)
        return;
    if (m_control->m_openFile) {
        m_control->m_openFile->Detach();
        m_control->m_openFile = nullptr;
    }
    m_control->Quit();
}

bool CFtpConnection::IsPassive() const {
    return m_control->Passive();
}

bool CFtpConnection::IsEncrypted() const {
    return m_control && m_control->IsEncrypted();
}

QString CFtpConnection::GetServerName() const {
    return m_control->ServerName();
}
