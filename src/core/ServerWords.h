#pragma once

#include <QString>

namespace core {

// The reason to show for a server's or the system's words: a refusal for too
// many connections (421, or 530 saying so) is named as such, the words follow.
QString ExplainServerWords(const QString& words);

} // namespace core
