#include "FtpConnection.h"

#include "FtpControl.h"
#include "FtpDataChannel.h"
#include "InternetFile.h"
#include "NameCodec.h"

CFtpConnection::CFtpConnection(std::unique_ptr<FtpControl> control)
    : m_control(std::move(control)) {}

CFtpConnection::~CFtpConnection() {
    Close();
}

namespace {
// A command on a path that answers with a reply of class 2 when it succeeds.
bool PathCommand(FtpControl& control, const char* verb, const QString& path) {
    std::string arg;
    if (path.isEmpty() || !CommandPath(control, path, arg) || control.m_openFile)
        return false;
    return control.CommandOk(std::string(verb) + " " + arg);
}
} // namespace

bool CFtpConnection::SetCurrentDirectory(const QString& directory) {
    return PathCommand(*m_control, "CWD", directory);
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
    return PathCommand(*m_control, "MKD", path);
}

bool CFtpConnection::RemoveDirectory(const QString& path) {
    return PathCommand(*m_control, "RMD", path);
}

bool CFtpConnection::Remove(const QString& path) {
    return PathCommand(*m_control, "DELE", path);
}

bool CFtpConnection::Rename(const QString& from, const QString& to) {
    std::string target;
    if (to.isEmpty() || !CommandPath(*m_control, to, target))
        return false;
    FtpReply reply;
    std::string source;
    if (from.isEmpty() || !CommandPath(*m_control, from, source) || m_control->m_openFile ||
        !m_control->CommandOk("RNFR " + source, 3))
        return false;
    return m_control->CommandOk("RNTO " + target);
}

CInternetFile* CFtpConnection::OpenFile(const QString& path, unsigned access, unsigned, int) {
    if (m_control->m_openFile)
        throw CInternetException(ERROR_FTP_TRANSFER_IN_PROGRESS,
                                 QStringLiteral("A file is already open on this connection."));
    std::string arg;
    QString why = QStringLiteral("The file name is not valid.");
    if (path.isEmpty() || !CommandPath(*m_control, path, arg, &why))
        throw CInternetException(ERROR_INTERNET_EXTENDED_ERROR, why);
    const bool upload = (access & GENERIC_WRITE) != 0;
    Poco::Net::StreamSocket data = m_control->OpenData((upload ? "STOR " : "RETR ") + arg);
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
