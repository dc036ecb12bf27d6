#include "TransferPaths.h"

#include <QRandomGenerator>
#include <QRegularExpression>

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
    // The panes join their root "/" and a folder with a slash of their own; the
    // name is written down in the journal and shown in messages as the user
    // finds it, with one.
    const QString parent = pathrules::Shown(ParentOf(path));
    const QString random =
        QString::number(QRandomGenerator::global()->generate64() & 0xffffffffffULL, 16);
    const QString name = QLatin1Char('.') + ShortenedName(NameOf(path)) +
                         QStringLiteral(".velmar-") + tag + QLatin1Char('-') + random;
    return parent.isEmpty() ? name : JoinRemote(parent, name);
}

bool IsTempPath(const QString& path) {
    static const QRegularExpression kOurs(
        QStringLiteral("^\\..*\\.velmar-(part|old|new)-[0-9a-f]{1,10}$"),
        QRegularExpression::DotMatchesEverythingOption);
    if (!path.startsWith(QLatin1Char('/')))
        return false;
    const QStringList elements = path.mid(1).split(QLatin1Char('/'));
    for (const QString& element : elements)
        if (!pathrules::IsPathElement(element))
            return false;
    return kOurs.match(elements.back()).hasMatch();
}

} // namespace transferpaths
