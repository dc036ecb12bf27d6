#include "TransferPaths.h"

namespace transferpaths {
namespace {
QString WithOneTrailingSlash(QString path) {
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path + QLatin1Char('/');
}
} // namespace

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

} // namespace transferpaths
