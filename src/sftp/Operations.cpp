#include "File.h"
#include "ListingParser.h"
#include "NameCodec.h"
#include "Session.h"
#include "Wire.h"

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

Entry Session::ToEntry(const QString& name, const wire::Attrs& attrs) const {
    Entry e;
    e.name = name;
    e.isFolder = attrs.IsFolder();
    e.isLink = attrs.IsLink();
    if (attrs.flags & wire::kSize)
        e.size = attrs.size;
    if (attrs.flags & wire::kTimes)
        e.mtime = std::int64_t(attrs.mtime);
    return e;
}

// A link: what it points to, and whether that is a folder.
void Session::FillLink(const QString& folder, Entry& entry) {
    const QString path = Join(folder, entry.name);
    const std::optional<Entry> target = Stat(path);
    entry.targetKnown = target.has_value();
    entry.isFolder = target && target->isFolder;
    wire::Packet readlink(wire::kReadlink);
    readlink.Str(Encode(path));
    const Reply reply = Call(readlink);
    // A link the server will not read is still a link, shown without its target.
    if (reply.type == wire::kName)
        entry.linkTarget = names::Decode(ExpectName(reply, QString()));
    else if (reply.type != wire::kStatus)
        Refuse(reply, QStringLiteral("Cannot read the link %1").arg(path));
}

std::vector<Entry> Session::List(const QString& folder) {
    const QString what = QStringLiteral("Cannot list %1").arg(folder);
    wire::Packet open(wire::kOpendir);
    open.Str(Encode(folder));
    const std::string handle = ExpectHandle(Call(open), what);
    std::vector<Entry> entries;
    for (;;) {
        wire::Packet next(wire::kReaddir);
        next.Str(handle);
        const Reply reply = Call(next);
        if (reply.type == wire::kStatus && StatusOf(reply) == wire::kEof)
            break;
        if (reply.type != wire::kName) {
            // A failed listing is an error, never a short one.
            CloseHandle(handle, what);
            Refuse(reply, what);
        }
        wire::Reader in(reply.body);
        for (std::uint32_t n = in.U32(); n > 0; --n) {
            const std::string raw(in.Str());
            in.Str(); // the long name, as ls -l would show it
            const wire::Attrs attrs = wire::ReadAttrs(in);
            if (!Deliverable(raw))
                continue;
            entries.push_back(ToEntry(Decode(raw), attrs));
            if (!names::IsUtf8(raw))
                entries.back().rawName = raw;
        }
    }
    CloseHandle(handle, what);
    for (Entry& e : entries)
        if (e.isLink)
            FillLink(folder, e);
    return entries;
}

void Session::CloseHandle(const std::string& handle, const QString& what) {
    wire::Packet close(wire::kClose);
    close.Str(handle);
    ExpectOk(Call(close), what);
}

std::optional<Entry> Session::StatOf(wire::Type type, const QString& path) {
    wire::Packet stat(type);
    stat.Str(Encode(path));
    const Reply reply = Call(stat);
    if (reply.type == wire::kStatus && StatusOf(reply) == wire::kNoSuchFile)
        return std::nullopt;
    if (reply.type != wire::kAttrs)
        Refuse(reply, QStringLiteral("Cannot look up %1").arg(path));
    wire::Reader in(reply.body);
    return ToEntry(LastPart(path), wire::ReadAttrs(in));
}

std::optional<Entry> Session::Lstat(const QString& path) {
    std::optional<Entry> e = StatOf(wire::kLstat, path);
    if (e && e->isLink) {
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        FillLink(slash <= 0 ? QStringLiteral("/") : path.left(slash), *e);
    }
    return e;
}

std::optional<Entry> Session::Stat(const QString& path) {
    return StatOf(wire::kStat, path);
}

void Session::MakeFolder(const QString& path) {
    wire::Packet mkdir(wire::kMkdir);
    mkdir.Str(Encode(path)).U32(wire::kPermissions).U32(0755);
    ExpectOk(Call(mkdir), QStringLiteral("Cannot create the folder %1").arg(path));
}

void Session::Rename(const QString& from, const QString& to) {
    // A version 3 rename refuses an existing target on OpenSSH, but not on every
    // server (some simply call rename(2)): look first.
    if (Lstat(to))
        throw Error(Error::Kind::Refused,
                    QStringLiteral("Cannot rename %1: %2 exists already.").arg(from, to));
    wire::Packet rename(wire::kRename);
    rename.Str(Encode(from)).Str(Encode(to));
    ExpectOk(Call(rename), QStringLiteral("Cannot rename %1 to %2").arg(from, to));
}

void Session::RenameOver(const QString& from, const QString& to) {
    if (!m_posixRename)
        throw Error(Error::Kind::Refused,
                    QStringLiteral("Cannot move %1 over %2: the server renames only to a "
                                   "free name.")
                        .arg(from, to));
    wire::Packet rename(wire::kExtended);
    rename.Str("posix-rename@openssh.com").Str(Encode(from)).Str(Encode(to));
    ExpectOk(Call(rename), QStringLiteral("Cannot move %1 over %2").arg(from, to));
}

void Session::RemoveFile(const QString& path) {
    wire::Packet remove(wire::kRemove);
    remove.Str(Encode(path));
    ExpectOk(Call(remove), QStringLiteral("Cannot delete %1").arg(path));
}

void Session::RemoveFolder(const QString& path) {
    wire::Packet rmdir(wire::kRmdir);
    rmdir.Str(Encode(path));
    ExpectOk(Call(rmdir), QStringLiteral("Cannot delete the folder %1").arg(path));
}

QString Session::RealPath(const QString& path) {
    wire::Packet realpath(wire::kRealpath);
    realpath.Str(Encode(path));
    return Decode(ExpectName(Call(realpath), QStringLiteral("Cannot resolve %1").arg(path)));
}

std::unique_ptr<File> Session::Open(const QString& path, OpenMode mode, std::uint64_t offset) {
    std::uint32_t flags = wire::kReadFlag;
    if (mode == OpenMode::CreateExclusive)
        flags = wire::kWriteFlag | wire::kCreate | wire::kExclusive;
    else if (mode == OpenMode::Truncate)
        flags = wire::kWriteFlag | wire::kCreate | wire::kTruncate;
    else if (mode == OpenMode::AtOffset)
        flags = wire::kWriteFlag | wire::kCreate;
    wire::Packet open(wire::kOpen);
    open.Str(Encode(path)).U32(flags).U32(wire::kPermissions).U32(0644);
    std::string handle = ExpectHandle(Call(open), QStringLiteral("Cannot open %1").arg(path));
    return std::make_unique<File>(*this, std::move(handle), offset, mode == OpenMode::AtOffset);
}

} // namespace sftp
