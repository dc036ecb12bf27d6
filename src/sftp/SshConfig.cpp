#include "KnownHosts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <optional>

// Just enough of ssh_config to learn what ssh does with a name it adds to
// known_hosts: Host blocks, Include, and the first HashKnownHosts that applies.
namespace sftp {

namespace {

struct Reader {
    QString host;
    QString baseFolder; // where a relative Include is looked for
    int depth = 0;

    std::optional<bool> Read(const QString& path) {
        QFile file(path);
        if (depth > 8 || !file.open(QIODevice::ReadOnly))
            return std::nullopt;
        bool active = true;
        while (!file.atEnd()) {
            const QString text = QString::fromUtf8(file.readLine()).trimmed();
            const qsizetype cut = text.indexOf(QRegularExpression(QStringLiteral("[ \t=]")));
            if (text.isEmpty() || text.startsWith(QLatin1Char('#')) || cut < 0)
                continue;
            const QString key = text.left(cut).toLower();
            const QString value =
                text.mid(cut + 1).trimmed().remove(QRegularExpression(QStringLiteral("^=[ \t]*")));
            if (key == QStringLiteral("host"))
                active = MatchHostPatterns(host,
                                           value.split(QRegularExpression(QStringLiteral("[ \t]+")))
                                               .join(QLatin1Char(',')));
            else if (key == QStringLiteral("match"))
                active = value.toLower() == QStringLiteral("all");
            else if (active && key == QStringLiteral("include")) {
                if (const auto found = Include(value))
                    return found;
            } else if (active && key == QStringLiteral("hashknownhosts"))
                return value.toLower() == QStringLiteral("yes");
        }
        return std::nullopt;
    }

    std::optional<bool> Include(const QString& patterns) {
        for (const QString& pattern :
             patterns.split(QRegularExpression(QStringLiteral("[ \t]+")), Qt::SkipEmptyParts)) {
            QString full = pattern.startsWith(QStringLiteral("~/"))
                               ? QDir::homePath() + pattern.mid(1)
                               : pattern;
            if (QFileInfo(full).isRelative())
                full = baseFolder + QLatin1Char('/') + full;
            const QFileInfo where(full);
            QDir dir(where.absolutePath());
            for (const QString& name : dir.entryList({where.fileName()}, QDir::Files, QDir::Name)) {
                ++depth;
                const auto found = Read(dir.filePath(name));
                --depth;
                if (found)
                    return found;
            }
        }
        return std::nullopt;
    }
};

} // namespace

bool HashKnownHosts(const QString& host, const QStringList& configFiles) {
    for (const QString& path : configFiles) {
        Reader reader{host.toLower(), QFileInfo(path).absolutePath()};
        if (const auto found = reader.Read(path))
            return *found;
    }
    return false;
}

QStringList DefaultSshConfigFiles() {
    return {QDir::homePath() + QStringLiteral("/.ssh/config"),
            QStringLiteral("/etc/ssh/ssh_config")};
}

} // namespace sftp
