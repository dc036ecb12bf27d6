// FTP and FTPS behind the remote-site interface: the FTP classes' results and
// exceptions become the interface's entries and RemoteErrors.
#include "FtpRemote.h"

#include <cstdlib>

#include "FtpConnection.h"
#include "FtpControl.h"
#include "FtpFileFind.h"
#include "FtpFileOps.h"
#include "FtpSite.h"
#include "InternetException.h"
#include "InternetFile.h"
#include "Interrupt.h"
#include "NameCodec.h"
#include "TransferPaths.h"

namespace core {
namespace {
const QString kGone = QStringLiteral("The connection to the server is closed.");

RemoteEntry EntryOf(const FtpListEntry& found) {
    RemoteEntry entry;
    entry.name = found.name;
    entry.isFolder = found.isFolder;
    entry.isLink = found.isLink;
    entry.targetKnown = found.targetKnown;
    entry.size = found.size;
    entry.lastWriteTime = found.lastWriteTime;
    entry.dateOnly = found.dateOnly;
    entry.linkTarget = found.linkTarget;
    entry.unique = found.unique;
    entry.rawName = found.rawName;
    return entry;
}

// A look-up that failed: the connection lost, a stop, or the server's no.
[[noreturn]] void ThrowFindFailure(const CFtpFileFind& find) {
    if (ftp::Interrupted())
        throw RemoteError(RemoteError::Kind::Cancelled, find.ErrorText());
    throw RemoteError(find.ConnectionLost() ? RemoteError::Kind::Lost : RemoteError::Kind::Refused,
                      find.ErrorText());
}

// What the sockets threw in the middle of a transfer (a reset, a broken pipe).
RemoteError Broke(const std::exception& e) {
    return RemoteError(ftp::Interrupted() ? RemoteError::Kind::Cancelled : RemoteError::Kind::Broken,
                       QString::fromLocal8Bit(e.what()));
}

// Where a RemoteFile's transfer stands, and its end, whichever way it goes.
class FtpStream {
public:
    FtpStream(CFtpConnection& connection, CInternetFile* file)
        : m_connection(connection), m_file(file) {}
    ~FtpStream() { Abandon(); }
    FtpStream(const FtpStream&) = delete;
    FtpStream& operator=(const FtpStream&) = delete;

    CInternetFile& File() { return *m_file; }
    // Runs a step of the transfer; what the FTP classes or the sockets throw
    // leaves as a RemoteError.
    template <typename Step>
    auto Guard(Step&& step) -> decltype(step()) {
        try {
            return step();
        } catch (const CInternetException& e) {
            throw FtpRemote::Translate(m_connection, e);
        } catch (const RemoteError&) {
            throw;
        } catch (const std::exception& e) {
            throw Broke(e);
        }
    }
    void Close() {
        if (!m_file)
            return;
        std::unique_ptr<CInternetFile> file(m_file.release());
        file->Close();
    }
    void Abandon() noexcept {
        if (!m_file)
            return;
        std::unique_ptr<CInternetFile> file(m_file.release());
        try {
            file->Close();
        } catch (const std::exception&) {
        }
    }

private:
    CFtpConnection& m_connection;
    std::unique_ptr<CInternetFile> m_file;
};

class FtpReader : public RemoteReader {
public:
    FtpReader(CFtpConnection& connection, CInternetFile* file) : m_stream(connection, file) {}
    std::size_t Read(void* buffer, std::size_t count) override {
        return m_stream.Guard([&] {
            return std::size_t(
                m_stream.File().Read(buffer, unsigned(std::min<std::size_t>(count, 1u << 30))));
        });
    }
    void Close() override {
        m_stream.Guard([&] { m_stream.Close(); });
    }
    void Abandon() noexcept override { m_stream.Abandon(); }

private:
    FtpStream m_stream;
};

class FtpWriter : public RemoteWriter {
public:
    FtpWriter(CFtpConnection& connection, CInternetFile* file) : m_stream(connection, file) {}
    void Write(const void* buffer, std::size_t count) override {
        m_stream.Guard([&] { m_stream.File().Write(buffer, unsigned(count)); });
    }
    void Close() override {
        m_stream.Guard([&] { m_stream.Close(); });
    }
    void Abandon() noexcept override { m_stream.Abandon(); }

private:
    FtpStream m_stream;
};
} // namespace

FtpRemote::FtpRemote(CFtpConnection& connection, FtpSite* site)
    : m_connection(connection), m_site(site) {}

FtpRemote::FtpRemote(std::unique_ptr<CFtpConnection> owned, FtpSite* site)
    : m_owned(std::move(owned)), m_connection(*m_owned), m_site(site) {}

FtpRemote::~FtpRemote() {
    if (!m_owned)
        return;
    try {
        m_owned->Close();
    } catch (const std::exception&) {
    }
}

RemoteError FtpRemote::Translate(CFtpConnection& connection, const CInternetException& e) {
    if (IsCancel(e))
        return RemoteError(RemoteError::Kind::Cancelled, e.Message());
    if (e.m_dwError == ERROR_INTERNET_TIMEOUT)
        return RemoteError(RemoteError::Kind::TimedOut, e.Message());
    if (IsConnectionLost(connection, e))
        return RemoteError(RemoteError::Kind::Lost, e.Message());
    if (e.m_dwError == ERROR_FTP_NO_RESTART)
        return RemoteError(RemoteError::Kind::NoResume, e.Message());
    // Only the server's own no is a refusal: the fall-backs it allows (another
    // name, another command) must never follow a broken connection.
    const bool refused =
        e.m_dwError == ERROR_INTERNET_EXTENDED_ERROR && connection.Control().Alive();
    return RemoteError(refused ? RemoteError::Kind::Refused : RemoteError::Kind::Broken,
                       e.Message());
}

template <typename Step>
auto FtpRemote::Guarded(Step&& step) -> decltype(step()) {
    try {
        return step();
    } catch (const CInternetException& e) {
        throw Translate(m_connection, e);
    }
}

RemoteCaps FtpRemote::Caps() const {
    RemoteCaps caps;
    caps.resume = true; // REST, which a server may still refuse: NoResume then
    caps.uniqueIds = m_connection.Control().HasMlst();
    caps.links = true;
    return caps;
}

QString FtpRemote::Encryption() const {
    return m_connection.IsEncrypted() ? QStringLiteral("TLS") : QString();
}

std::vector<RemoteEntry> FtpRemote::List(const QString& folder) {
    return Guarded([&] {
        // Some servers answer the listing of a folder they may not read, or of one
        // that is gone, with an empty listing and a success reply: a folder that
        // cannot be entered is not taken for an empty one. The main connection's
        // folder is the one the user looks at, so only a connection of its own
        // goes in.
        if (m_owned && !m_connection.SetCurrentDirectory(folder)) {
            ftp::ThrowIfInterrupted();
            throw RemoteError(m_connection.Control().Alive() ? RemoteError::Kind::Refused
                                                             : RemoteError::Kind::Lost,
                              QStringLiteral("The folder cannot be opened."));
        }
        CFtpFileFind find(&m_connection, 1);
        const QString pattern =
            folder.endsWith(QLatin1Char('/')) ? folder + QStringLiteral("*.*")
                                              : folder + QStringLiteral("/*.*");
        find.FindFile(pattern, INTERNET_FLAG_RELOAD);
        if (find.Failed())
            ThrowFindFailure(find);
        std::vector<RemoteEntry> entries;
        entries.reserve(find.Entries().size());
        for (const FtpListEntry& found : find.Entries())
            entries.push_back(EntryOf(found));
        return entries;
    });
}

std::optional<RemoteEntry> FtpRemote::Stat(const QString& path) {
    return Guarded([&]() -> std::optional<RemoteEntry> {
        CFtpFileFind find(&m_connection, 1);
        const bool found = find.FindFile(path, INTERNET_FLAG_RELOAD);
        if (find.Failed())
            ThrowFindFailure(find);
        if (!found || find.Entries().empty())
            return std::nullopt;
        return EntryOf(find.Entries().front());
    });
}

std::optional<std::uint64_t> FtpRemote::Size(const QString& path) {
    std::string arg;
    FtpControl& control = m_connection.Control();
    if (!CommandPath(control, path, arg))
        return std::nullopt;
    FtpReply reply;
    try {
        // The size of a temporary name just stored is asked before it is renamed
        // into place: its RNFR goes along, and saves the rename a round trip. (A
        // resume's SIZE is followed by REST, which a strict server might refuse
        // after an RNFR.)
        bool asked = false;
        if (transferpaths::IsTempPath(path) && !control.m_openFile && control.StoredJustNow()) {
            try {
                reply = control.SizeAndRenameFrom(arg);
                asked = true;
            } catch (const CInternetException&) {
                if (!control.WillRedial())
                    throw; // a stop, or no way back: as a lone SIZE would end
            }
        }
        // Alone, SIZE is sent again on a fresh login after a loss.
        if (!asked && !control.CommandOk("SIZE " + arg, 2, &reply))
            return std::nullopt;
        if (reply.code != 213)
            return std::nullopt;
    } catch (const CInternetException&) {
        return std::nullopt; // the connection is lost, or a stop: the next step finds it so
    }
    const std::string digits = reply.text.size() > 4 ? reply.text.substr(4) : std::string();
    char* end = nullptr;
    const unsigned long long size = std::strtoull(digits.c_str(), &end, 10);
    if (end == digits.c_str())
        return std::nullopt;
    return size;
}

bool FtpRemote::LeadsToFolder(const QString& path) {
    // A change of folder is the one answer every server gives about a link. The
    // main connection's folder is the one the user looks at: it goes back there.
    try {
        QString was;
        if (!m_owned && !m_connection.GetCurrentDirectory(was))
            return false;
        const bool entered = m_connection.SetCurrentDirectory(path);
        if (entered && !m_owned)
            m_connection.SetCurrentDirectory(was);
        return entered;
    } catch (const std::exception&) {
        return false;
    }
}

void FtpRemote::PathCommand(const char* verb, const QString& path) {
    Guarded([&] {
        QString words;
        if (!FtpPathCommand(m_connection, verb, path, words))
            throw RemoteError(ftp::Interrupted() ? RemoteError::Kind::Cancelled
                                                 : RemoteError::Kind::Refused,
                              words);
    });
}

void FtpRemote::MakeFolder(const QString& path) {
    PathCommand("MKD", path);
}

void FtpRemote::DeleteFile(const QString& path) {
    PathCommand("DELE", path);
}

void FtpRemote::DeleteFolder(const QString& path) {
    PathCommand("RMD", path);
}

void FtpRemote::DeleteLink(const QString& path) {
    // Some servers refuse DELE for a link to a folder and take RMD, which
    // removes a link and never a folder it points to.
    try {
        PathCommand("DELE", path);
    } catch (const RemoteError& error) {
        if (error.kind() != RemoteError::Kind::Refused)
            throw;
        PathCommand("RMD", path);
    }
}

bool FtpRemote::OutcomeUnknown() const {
    return m_connection.Control().OutcomeUnknown();
}

bool FtpRemote::Usable() const {
    const FtpControl& control = m_connection.Control();
    return control.Alive() || control.ReconnectDue();
}

void FtpRemote::Rename(const QString& from, const QString& to) {
    Guarded([&] {
        if (Stat(to))
            throw RemoteError(RemoteError::Kind::Refused,
                              QStringLiteral("A file or folder of that name exists."));
        Replace(from, to);
    });
}

void FtpRemote::Replace(const QString& from, const QString& to) {
    Guarded([&] {
        if (!m_connection.Rename(from, to)) {
            ftp::ThrowIfInterrupted();
            throw RemoteError(m_connection.Control().Alive() ? RemoteError::Kind::Refused
                                                             : RemoteError::Kind::Lost,
                              QStringLiteral("The server did not rename the file."));
        }
    });
}

std::unique_ptr<RemoteReader> FtpRemote::OpenRead(const QString& path, std::uint64_t offset) {
    return Guarded([&] {
        return std::make_unique<FtpReader>(
            m_connection,
            m_connection.OpenFile(path, GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 1, offset));
    });
}

std::unique_ptr<RemoteWriter> FtpRemote::OpenWrite(const QString& path, WriteStart start,
                                                  std::uint64_t offset) {
    if (start == WriteStart::AtOffset && offset != 0)
        // REST then STOR: a SIZE read while a dropped session still writes would
        // make APPE add bytes twice; STOR from a set offset cannot.
        return Guarded([&]() -> std::unique_ptr<RemoteWriter> {
            return std::make_unique<FtpWriter>(
                m_connection, m_connection.OpenFile(path, GENERIC_WRITE,
                                                    FTP_TRANSFER_TYPE_BINARY, 1, offset));
        });
    return Guarded([&]() -> std::unique_ptr<RemoteWriter> {
        // A new name is created with APPE where the server has it: a STOR
        // truncates, and some servers write a truncated file out whole first.
        if (start == WriteStart::New && !(m_site && m_site->RefusesAppend())) {
            try {
                return std::make_unique<FtpWriter>(
                    m_connection, m_connection.OpenFile(path, GENERIC_WRITE | GENERIC_WRITE_NEW,
                                                        FTP_TRANSFER_TYPE_BINARY, 1));
            } catch (const CInternetException& error) {
                // A server without APPE: STOR, as every server has.
                if (error.m_dwError != ERROR_INTERNET_EXTENDED_ERROR ||
                    !m_connection.Control().Alive() || ftp::Interrupted())
                    throw;
                if (m_site)
                    m_site->SetRefusesAppend();
            }
        }
        return std::make_unique<FtpWriter>(
            m_connection,
            m_connection.OpenFile(path, GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY, 1));
    });
}

QString FtpRemote::HomeFolder() {
    return Guarded([&] {
        QString folder;
        if (!m_connection.GetCurrentDirectory(folder))
            throw RemoteError(RemoteError::Kind::Refused, QStringLiteral("PWD failed."));
        return folder;
    });
}

} // namespace core
