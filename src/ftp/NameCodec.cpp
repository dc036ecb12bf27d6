#include "NameCodec.h"

#include <QStringDecoder>
#include <QStringList>
#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace {

// 0x80..0x9F of Windows-1252; the gaps keep the C1 character of their own code.
constexpr char16_t kHigh1252[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool ByteOf1252(char16_t c, char& out) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
        out = char(c);
        return true;
    }
    for (int i = 0; i < 32; ++i) {
        if (kHigh1252[i] == c) {
            out = char(0x80 + i);
            return true;
        }
    }
    return false;
}

// The names kept for one server, shared by its open connections.
struct ServerNames {
    bool utf8 = false;     // FEAT offered UTF8
    bool seen8bit = false; // a name came that is not UTF-8
    std::map<QString, std::string> raw;
};

struct Registry {
    std::mutex mutex;
    std::unordered_map<const FtpControl*, std::shared_ptr<ServerNames>> byControl;
    std::map<std::string, std::weak_ptr<ServerNames>> byServer;

    // The names of a connection; a connection that never logged in fully has its own.
    std::shared_ptr<ServerNames> Of(const FtpControl* control) {
        std::shared_ptr<ServerNames>& names = byControl[control];
        if (!names)
            names = std::make_shared<ServerNames>();
        return names;
    }
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

bool EncodeName(const ServerNames& names, const QString& name, std::string& out, QString* error) {
    const auto kept = names.raw.find(name);
    if (kept != names.raw.end()) {
        out += kept->second;
        return true;
    }
    if (names.utf8 || !names.seen8bit) {
        out += name.toUtf8().toStdString();
        return true;
    }
    std::string bytes;
    if (!names::EncodeWindows1252(name, bytes)) {
        if (error)
            *error = QStringLiteral("The name \"%1\" cannot be written on this server: it uses "
                                    "the Windows-1252 character set, which lacks some of its "
                                    "characters.")
                         .arg(name);
        return false;
    }
    out += bytes;
    return true;
}

} // namespace

namespace names {

bool IsUtf8(std::string_view bytes) {
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; }))
        return true;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    [[maybe_unused]] const QString text =
        decoder(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    return !decoder.hasError();
}

QString Decode(std::string_view bytes) {
    if (IsUtf8(bytes))
        return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
    QString text;
    text.reserve(qsizetype(bytes.size()));
    for (unsigned char c : bytes)
        text.append(QChar(c >= 0x80 && c < 0xA0 ? kHigh1252[c - 0x80] : char16_t(c)));
    return text;
}

bool EncodeWindows1252(const QString& text, std::string& out) {
    out.clear();
    for (QChar c : text) {
        char byte = 0;
        if (!ByteOf1252(c.unicode(), byte))
            return false;
        out.push_back(byte);
    }
    return true;
}

} // namespace names

void NameCodec::Attach(const FtpControl* control, const std::string& server, bool utf8) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    std::shared_ptr<ServerNames> names = r.byServer[server].lock();
    if (!names) {
        names = std::make_shared<ServerNames>();
        r.byServer[server] = names;
    }
    names->utf8 = utf8;
    r.byControl[control] = names;
    std::erase_if(r.byServer, [](const auto& entry) { return entry.second.expired(); });
}

void NameCodec::Detach(const FtpControl* control) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    r.byControl.erase(control);
    std::erase_if(r.byServer, [](const auto& entry) { return entry.second.expired(); });
}

void NameCodec::Learn(const FtpControl* control, std::string_view raw, const QString& shown) {
    if (names::IsUtf8(raw))
        return;
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    std::shared_ptr<ServerNames> names = r.Of(control);
    names->seen8bit = true;
    names->raw[shown] = std::string(raw);
}

QString NameCodec::DecodePath(const FtpControl* control, std::string_view raw) {
    QString path;
    std::size_t start = 0;
    while (start <= raw.size()) {
        std::size_t slash = raw.find('/', start);
        if (slash == std::string_view::npos)
            slash = raw.size();
        const std::string_view part = raw.substr(start, slash - start);
        const QString shown = names::Decode(part);
        Learn(control, part, shown);
        path += shown;
        if (slash < raw.size())
            path += QLatin1Char('/');
        start = slash + 1;
    }
    return path;
}

bool NameCodec::Encode(const FtpControl* control, const QString& path, std::string& out,
                       QString* error) {
    out.clear();
    const QStringList parts = path.split(QLatin1Char('/'));
    {
        Registry& r = TheRegistry();
        std::lock_guard lock(r.mutex);
        const ServerNames& names = *r.Of(control);
        for (qsizetype i = 0; i < parts.size(); ++i) {
            if (i > 0)
                out.push_back('/');
            if (!EncodeName(names, parts[i], out, error))
                return false;
        }
    }
    if (out.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
        if (error)
            *error = QStringLiteral("The name holds a line end, which no FTP command can carry.");
        return false;
    }
    return true;
}

bool CommandPath(const FtpControl& control, const QString& path, std::string& out, QString* error) {
    return NameCodec::Encode(&control, path, out, error);
}
