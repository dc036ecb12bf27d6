#include "PathRules.h"

#include <QFile>
#include <QStringList>

namespace pathrules {
namespace {
const QLatin1Char kSlash('/');

// The elements of a path with "." gone and each ".." resolved against the one
// before it. Above the root there is nothing, so an absolute path drops a ".."
// there; a relative path keeps it, as it points outside the path's own start.
QStringList Elements(const QString& path, bool absolute) {
    QStringList kept;
    for (const QString& element : path.split(kSlash, Qt::SkipEmptyParts)) {
        if (element == QLatin1String("."))
            continue;
        if (element != QLatin1String("..")) {
            kept.append(element);
        } else if (!kept.isEmpty() && kept.last() != QLatin1String("..")) {
            kept.removeLast();
        } else if (!absolute) {
            kept.append(element);
        }
    }
    return kept;
}

void AppendHex(QString& out, char16_t c) {
    const bool small = c <= 0xFF;
    out += small ? QStringLiteral("\\x") : QStringLiteral("\\u");
    out += QString::number(c, 16).toUpper().rightJustified(small ? 2 : 4, QLatin1Char('0'));
}
} // namespace

QString WithoutTrailingSlash(QString path) {
    while (path.size() > 1 && path.endsWith(kSlash))
        path.chop(1);
    return path;
}

QString Join(const QString& folder, const QString& name) {
    if (folder.endsWith(kSlash))
        return folder + name;
    return folder + kSlash + name;
}

bool IsRoot(const QString& path) {
    for (const QChar c : path)
        if (c != kSlash)
            return false;
    return true;
}

QString Comparable(const QString& path) {
    if (IsRoot(path))
        return QStringLiteral("/");
    const bool absolute = path.startsWith(kSlash);
    const QString joined = Elements(path, absolute).join(kSlash);
    if (absolute)
        return kSlash + joined;
    return joined.isEmpty() ? QStringLiteral(".") : joined;
}

QString Shown(QString path) {
    while (path.contains(QLatin1String("//")))
        path.replace(QLatin1String("//"), QLatin1String("/"));
    return path;
}

bool IsSamePath(const QString& a, const QString& b) {
    return Comparable(a) == Comparable(b);
}

bool IsSameOrInside(const QString& folder, const QString& path) {
    const QString outer = Comparable(folder);
    if (outer == QLatin1String("/"))
        return true;
    const QString inner = Comparable(path);
    return inner == outer || inner.startsWith(outer + kSlash);
}

bool Overlap(const QString& a, const QString& b) {
    return IsSameOrInside(a, b) || IsSameOrInside(b, a);
}

bool IsPathElement(const QString& name) {
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    return !name.contains(kSlash) && !name.contains(QChar(0));
}

bool IsValidNewName(const QString& name) {
    return IsPathElement(name) && !HasDisguisingCharacter(name);
}

bool IsDisguisingCharacter(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

bool HasDisguisingCharacter(const QString& name) {
    for (const QChar c : name)
        if (IsDisguisingCharacter(c.unicode()))
            return true;
    return false;
}

QString Escaped(const QString& name) {
    if (!HasDisguisingCharacter(name))
        return name;
    QString out;
    out.reserve(name.size() + 16);
    for (const QChar c : name) {
        if (IsDisguisingCharacter(c.unicode()))
            AppendHex(out, c.unicode());
        else if (c == QLatin1Char('\\'))
            out += QStringLiteral("\\\\");
        else
            out += c;
    }
    return out;
}

LocalNameProblem CheckLocalName(const QString& name) {
    if (!IsPathElement(name))
        return LocalNameProblem::NotAnElement;
    if (HasDisguisingCharacter(name))
        return LocalNameProblem::Disguising;
    if (QFile::encodeName(name).size() > kMaxLocalNameBytes)
        return LocalNameProblem::TooLong;
    return LocalNameProblem::None;
}

} // namespace pathrules
