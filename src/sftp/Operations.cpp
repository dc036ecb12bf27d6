#include "File.h"
#include "ListingParser.h"
#include "NameCodec.h"
#include "SessionWait.h"

#include <libssh2_sftp.h>

// The file operations of a session, each one request and its reply.
namespace sftp {

namespace {

QString Join(const QString& folder, const QString& name) {
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

QString LastPart(const QString& path) {
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return p.mid(p.lastIndexOf(QLatin1Char('/')) + 1);
}

// A listed name that must never become a path: it could reach outside the folder
// or carry control characters into file names and terminals.
bool Deliverable(const std::string& raw) {
    return listing::IsUsableName(raw) && raw != "." && raw != "..";
}

} // namespace

std::string Session::Encode(const QString& path) const {
    // The panes join a folder and a name with a slash even where the folder is
    // the root ("//name"): an FTP server reads that as one slash, and some SFTP
    // servers do not. No name holds a slash, so runs of them are one.
    QString clean = path;
    while (clean.contains(QStringLiteral("//")))
        clean.replace(QStringLiteral("//"), QStringLiteral("/"));
    if (m_rawNames.empty())
        return clean.toStdString();
    std::string out;
    const QStringList parts = clean.split(QLatin1Char('/'));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const auto raw = m_rawNames.find(parts[i]);
        out += raw != m_rawNames.end() ? raw->second : parts[i].toStdString();
        if (i + 1 < parts.size())
            out += '/';
    }
    return out;
}

QString Session::Decode(const std::string& bytes) {
    const QString name = names::Decode(bytes);
    if (!names::IsUtf8(bytes))
        m_rawNames[name] = bytes;
    return name;
}

Entry Session::ToEntry(const QString& name, const LIBSSH2_SFTP_ATTRIBUTES& attrs) const {
    Entry e;
    e.name = name;
    if (attrs.flags & LIBSSH2_SFTP_ATTR_PERMISSIONS) {
        e.isFolder = LIBSSH2_SFTP_S_ISDIR(attrs.permissions);
        e.isLink = LIBSSH2_SFTP_S_ISLNK(attrs.permissions);
    }
    if (attrs.flags & LIBSSH2_SFTP_ATTR_SIZE)
        e.size = attrs.filesize;
    if (attrs.flags & LIBSSH2_SFTP_ATTR_ACMODTIME)
        e.mtime = std::int64_t(attrs.mtime);
    return e;
}

// A link: what it points to, and whether that is a folder.
void Session::FillLink(const QString& folder, Entry& entry) {
    const QString path = Join(folder, entry.name);
    const std::optional<Entry> target = Stat(path);
    entry.targetKnown = target.has_value();
    entry.isFolder = target && target->isFolder;
    const std::string p = Encode(path);
    std::vector<char> buffer(4096);
    const int n = Await(
        [&] {
            return libssh2_sftp_symlink_ex(m_sftp, p.data(), unsigned(p.size()), buffer.data(),
                                           unsigned(buffer.size()), LIBSSH2_SFTP_READLINK);
        },
        m_timeouts.replyMs);
    if (n > 0)
        entry.linkTarget = names::Decode(std::string_view(buffer.data(), std::size_t(n)));
    else if (n != LIBSSH2_ERROR_SFTP_PROTOCOL)
        Check(n, QStringLiteral("Cannot read the link %1").arg(path));
}

std::vector<Entry> Session::List(const QString& folder) {
    const std::string p = Encode(folder);
    const QString what = QStringLiteral("Cannot list %1").arg(folder);
    LIBSSH2_SFTP_HANDLE* handle = AwaitPtr(
        [&] {
            return libssh2_sftp_open_ex(m_sftp, p.data(), unsigned(p.size()), 0, 0,
                                        LIBSSH2_SFTP_OPENDIR);
        },
        m_timeouts.replyMs);
    if (!handle)
        Fail(libssh2_session_last_errno(m_session), what);
    std::vector<Entry> entries;
    std::vector<char> name(65536);
    for (;;) {
        LIBSSH2_SFTP_ATTRIBUTES attrs{};
        const int n = Await(
            [&] {
                return libssh2_sftp_readdir_ex(handle, name.data(), name.size(), nullptr, 0,
                                               &attrs);
            },
            m_timeouts.replyMs);
        if (n < 0) {
            // A failed listing is an error, never a short one.
            Await([&] { return libssh2_sftp_close_handle(handle); }, m_timeouts.replyMs);
            Fail(n, what);
        }
        if (n == 0)
            break;
        const std::string raw(name.data(), std::size_t(n));
        if (Deliverable(raw)) {
            entries.push_back(ToEntry(Decode(raw), attrs));
            if (!names::IsUtf8(raw))
                entries.back().rawName = raw;
        }
    }
    Check(Await([&] { return libssh2_sftp_close_handle(handle); }, m_timeouts.replyMs), what);
    for (Entry& e : entries)
        if (e.isLink)
            FillLink(folder, e);
    return entries;
}

std::optional<Entry> Session::Lstat(const QString& path) {
    const std::string p = Encode(path);
    LIBSSH2_SFTP_ATTRIBUTES attrs{};
    const int rc = Await(
        [&] {
            return libssh2_sftp_stat_ex(m_sftp, p.data(), unsigned(p.size()), LIBSSH2_SFTP_LSTAT,
                                        &attrs);
        },
        m_timeouts.replyMs);
    if (rc == LIBSSH2_ERROR_SFTP_PROTOCOL &&
        libssh2_sftp_last_error(m_sftp) == LIBSSH2_FX_NO_SUCH_FILE)
        return std::nullopt;
    Check(rc, QStringLiteral("Cannot look up %1").arg(path));
    Entry e = ToEntry(LastPart(path), attrs);
    if (e.isLink) {
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        FillLink(slash <= 0 ? QStringLiteral("/") : path.left(slash), e);
    }
    return e;
}

std::optional<Entry> Session::Stat(const QString& path) {
    const std::string p = Encode(path);
    LIBSSH2_SFTP_ATTRIBUTES attrs{};
    const int rc = Await(
        [&] {
            return libssh2_sftp_stat_ex(m_sftp, p.data(), unsigned(p.size()), LIBSSH2_SFTP_STAT,
                                        &attrs);
        },
        m_timeouts.replyMs);
    if (rc == LIBSSH2_ERROR_SFTP_PROTOCOL &&
        libssh2_sftp_last_error(m_sftp) == LIBSSH2_FX_NO_SUCH_FILE)
        return std::nullopt;
    Check(rc, QStringLiteral("Cannot look up %1").arg(path));
    return ToEntry(LastPart(path), attrs);
}

void Session::MakeFolder(const QString& path) {
    const std::string p = Encode(path);
    Check(Await([&] { return libssh2_sftp_mkdir_ex(m_sftp, p.data(), unsigned(p.size()), 0755); },
                m_timeouts.replyMs),
          QStringLiteral("Cannot create the folder %1").arg(path));
}

void Session::Rename(const QString& from, const QString& to) {
    // A version 3 rename refuses an existing target on OpenSSH, but not on every
    // server (some simply call rename(2)): look first.
    if (Lstat(to))
        throw Error(Error::Kind::Refused,
                    QStringLiteral("Cannot rename %1: %2 exists already.").arg(from, to));
    const std::string f = Encode(from);
    const std::string t = Encode(to);
    Check(Await(
              [&] {
                  return libssh2_sftp_rename_ex(
                      m_sftp, f.data(), unsigned(f.size()), t.data(), unsigned(t.size()),
                      LIBSSH2_SFTP_RENAME_ATOMIC | LIBSSH2_SFTP_RENAME_NATIVE);
              },
              m_timeouts.replyMs),
          QStringLiteral("Cannot rename %1 to %2").arg(from, to));
}

void Session::RemoveFile(const QString& path) {
    const std::string p = Encode(path);
    Check(Await([&] { return libssh2_sftp_unlink_ex(m_sftp, p.data(), unsigned(p.size())); },
                m_timeouts.replyMs),
          QStringLiteral("Cannot delete %1").arg(path));
}

void Session::RemoveFolder(const QString& path) {
    const std::string p = Encode(path);
    Check(Await([&] { return libssh2_sftp_rmdir_ex(m_sftp, p.data(), unsigned(p.size())); },
                m_timeouts.replyMs),
          QStringLiteral("Cannot delete the folder %1").arg(path));
}

QString Session::RealPath(const QString& path) {
    const std::string p = Encode(path);
    std::vector<char> buffer(4096);
    const int n = Await(
        [&] {
            return libssh2_sftp_symlink_ex(m_sftp, p.data(), unsigned(p.size()), buffer.data(),
                                           unsigned(buffer.size()), LIBSSH2_SFTP_REALPATH);
        },
        m_timeouts.replyMs);
    Check(n, QStringLiteral("Cannot resolve %1").arg(path));
    return Decode(std::string(buffer.data(), std::size_t(n)));
}

std::unique_ptr<File> Session::Open(const QString& path, OpenMode mode, std::uint64_t offset) {
    unsigned long flags = LIBSSH2_FXF_READ;
    if (mode == OpenMode::CreateExclusive)
        flags = LIBSSH2_FXF_WRITE | LIBSSH2_FXF_CREAT | LIBSSH2_FXF_EXCL;
    else if (mode == OpenMode::Truncate)
        flags = LIBSSH2_FXF_WRITE | LIBSSH2_FXF_CREAT | LIBSSH2_FXF_TRUNC;
    else if (mode == OpenMode::AtOffset)
        flags = LIBSSH2_FXF_WRITE | LIBSSH2_FXF_CREAT;
    const std::string p = Encode(path);
    LIBSSH2_SFTP_HANDLE* handle = AwaitPtr(
        [&] {
            return libssh2_sftp_open_ex(m_sftp, p.data(), unsigned(p.size()), flags, 0644,
                                        LIBSSH2_SFTP_OPENFILE);
        },
        m_timeouts.replyMs);
    if (!handle)
        Fail(libssh2_session_last_errno(m_session), QStringLiteral("Cannot open %1").arg(path));
    if (offset > 0)
        libssh2_sftp_seek64(handle, offset);
    auto file = std::make_unique<File>(*this, handle, mode == OpenMode::AtOffset);
    file->m_offset = offset;
    return file;
}

} // namespace sftp
