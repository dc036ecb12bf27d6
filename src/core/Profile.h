#pragma once

#include <QString>

// One FTP site. The field order is also the order in the profile file.
struct CProfile {
    QString m_name;
    QString m_address;
    qint32 m_anonymous = 0;
    QString m_userId;
    QString m_password;
    QString m_initialDir;
    QString m_comment;
    qint32 m_default = 0;
    qint32 m_active = 0;

    bool operator==(const CProfile&) const = default;
};
