#include "CopyChecks.h"

#include "LocalFile.h"
#include "LocalFind.h"
#include "PathRules.h"
#include "TransferPaths.h"

namespace copychecks {
namespace {
using Kind = core::TransferError::Kind;

core::TransferError Refusal(Kind kind, const QString& path) {
    return {kind, path, {}, {}};
}

// The path as the user reads it, with what could disguise it written out.
QString ShownRemote(const QString& path) {
    return pathrules::Escaped(pathrules::Shown(path));
}
} // namespace

std::optional<core::TransferError> LocalNameRefusal(const QString& remotePath,
                                                    const QString& name) {
    switch (pathrules::CheckLocalName(name)) {
    case pathrules::LocalNameProblem::None:
        return std::nullopt;
    case pathrules::LocalNameProblem::TooLong:
        return Refusal(Kind::NameTooLong, ShownRemote(remotePath));
    case pathrules::LocalNameProblem::Disguising:
        return Refusal(Kind::UnsafeName, ShownRemote(remotePath));
    case pathrules::LocalNameProblem::NotAnElement:
        break;
    }
    return Refusal(Kind::CopyFile, {});
}

std::optional<core::TransferError> DownloadRefusal(const QString& remotePath,
                                                   const QString& localPath) {
    if (auto refusal = LocalNameRefusal(remotePath, transferpaths::NameOf(localPath)))
        return refusal;
    return TargetRefusal(localPath);
}

std::optional<core::TransferError> SourceRefusal(const QString& localPath) {
    if (localfile::KindOf(localPath, true) == localfile::Kind::Special)
        return Refusal(Kind::SpecialFile, pathrules::Escaped(localPath));
    return std::nullopt;
}

std::optional<core::TransferError> TargetRefusal(const QString& localPath) {
    // A link there is replaced, never written through, so only the name itself counts.
    if (localfile::KindOf(localPath, false) == localfile::Kind::Special)
        return Refusal(Kind::SpecialFile, pathrules::Escaped(localPath));
    return std::nullopt;
}

QString SkippedList(const QString& folder, const std::vector<QString>& relatives) {
    constexpr std::size_t kShown = 12;
    QStringList lines;
    for (std::size_t i = 0; i < relatives.size() && i < kShown; ++i)
        lines.append(pathrules::Escaped(JoinLocal(folder, relatives[i])));
    if (relatives.size() > kShown)
        lines.append(QStringLiteral("and %1 more").arg(relatives.size() - kShown));
    return lines.join(QLatin1Char('\n'));
}

} // namespace copychecks
