#pragma once

#include <QString>
#include <stdexcept>

namespace sftp {

// Why an SFTP step failed, in the same four kinds as every remote operation.
class Error : public std::runtime_error {
public:
    enum class Kind {
        Refused,   // the server said no (or refused the login)
        Lost,      // the connection broke
        TimedOut,  // the server went silent past the time-outs
        Cancelled, // the thread's stop request came
    };
    Error(Kind kind, const QString& words)
        : std::runtime_error(words.toStdString()), m_kind(kind), m_words(words) {}
    Kind kind() const { return m_kind; }
    const QString& words() const { return m_words; }

private:
    Kind m_kind;
    QString m_words;
};

} // namespace sftp
