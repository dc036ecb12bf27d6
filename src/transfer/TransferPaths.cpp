#include "TransferPaths.h"

#include <QRandomGenerator>

namespace transferpaths {
namespace {
QString WithOneTrailingSlash(QString path) {
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path + QLatin1Char('/');
}

// Long names are cut so that the temporary name stays within the 255 bytes that
// most file systems allow, and never in the middle of a surrogate pair.
QString ShortenedName(const QString& name) {
    constexpr qsizetype kKeep = 64;
    if (name.size() <= kKeep)
        return name;
    qsizetype keep = kKeep;
    if (name.at(keep - 1).isHighSurrogate())
        --keep;
    return name.left(keep);
}
} // namespace

QString WithoutTrailingSlash(QString path) {
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

QString JoinRemote(const QString& folder, const QString& name) {
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

bool IsUsableListingName(const QString& name) {
    if (name.isEmpty() || name == QStringLiteral(".") || name == QStringLiteral(".."))
        return false;
    return !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

bool IsSameOrInside(const QString& source, const QString& destination) {
    return WithOneTrailingSlash(destination)
        .startsWith(WithOneTrailingSlash(source), Qt::CaseSensitive);
}

QString ParentOf(const QString& path) {
    const QString clean = WithoutTrailingSlash(path);
    const qsizetype slash = clean.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QString();
    return slash == 0 ? QStringLiteral("/") : clean.left(slash);
}

QString NameOf(const QString& path) {
    const QString clean = WithoutTrailingSlash(path);
    return clean.mid(clean.lastIndexOf(QLatin1Char('/')) + 1);
}

QString TempSibling(const QString& path, const QString& tag) {
    const QString parent = ParentOf(path);
    const QString random =
        QString::number(QRandomGenerator::global()->generate64() & 0xffffffffffULL, 16);
    const QString name = QLatin1Char('.') + ShortenedName(NameOf(path)) +
                         QStringLiteral(".velmar-") + tag + QLatin1Char('-') + random;
    return parent.isEmpty() ? name : JoinRemote(parent, name);
}

} // namespace transferpaths
