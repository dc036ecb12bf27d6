#include "ServerWords.h"

namespace core {
namespace {
// The words servers use when a per-address or overall limit refuses a login:
// "421 Too many connections", "530 Sorry, the maximum number of clients ...".
bool IsConnectionLimit(const QString& words) {
    const auto has = [&](const char* s) {
        return words.contains(QLatin1String(s), Qt::CaseInsensitive);
    };
    return has("too many") || (has("maximum") && (has("client") || has("connection"))) ||
           (has("limit") && has("connection"));
}
} // namespace

QString ExplainServerWords(const QString& words) {
    const QString plain = words.trimmed();
    if (!IsConnectionLimit(plain))
        return plain;
    return QStringLiteral("The server refused another connection: it allows no more "
                          "connections from this computer (too many connections).\n") +
           plain;
}

} // namespace core
