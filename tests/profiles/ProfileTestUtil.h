#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

#include "Profile.h"
#include "VelmarApp.h"

inline QByteArray ReadFileBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

inline void WriteFileBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

inline CProfile MakeProfile(const QString& name, const QString& address, const QString& user = {},
                            const QString& password = {}, int isDefault = 0) {
    CProfile p;
    p.m_name = name;
    p.m_address = address;
    p.m_anonymous = user.isEmpty() ? 1 : 0;
    p.m_userId = user;
    p.m_password = password;
    p.m_initialDir = QStringLiteral("/pub/") + name;
    p.m_comment = QStringLiteral("comment of ") + name;
    p.m_default = isDefault;
    return p;
}

// A fresh application object whose profile file lives in its own temporary folder.
class ProfileFolderTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_app = std::make_unique<CVelmarApp>();
        m_app->m_startupDir = m_dir.path() + QStringLiteral("/");
        m_app->m_profileFilePath = m_app->m_startupDir + QStringLiteral("Profiles.dat");
    }
    QString FilePath() const { return m_app->m_profileFilePath; }

    QTemporaryDir m_dir;
    std::unique_ptr<CVelmarApp> m_app;
};
