#include "TransferPaths.h"

#include <QRandomGenerator>

namespace transferpaths {
namespace {
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

QString JoinRemote(const QString& folder, const QString& name) {
    return pathrules::Join(folder, name);
}

bool IsUsableListingName(const QString& name) {
    return pathrules::IsPathElement(name);
}

QString ParentOf(const QString& path) {
    const QString clean = pathrules::WithoutTrailingSlash(path);
    const qsizetype slash = clean.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QString();
    return slash == 0 ? QStringLiteral("/") : clean.left(slash);
}

QString NameOf(const QString& path) {
    const QString clean = pathrules::WithoutTrailingSlash(path);
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
