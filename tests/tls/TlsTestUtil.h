#pragma once

// What the FTP-level TLS tests share: a session with short time-outs whose
// certificate questions are recorded and answered from a queue.
#include <QByteArray>
#include <QRandomGenerator>
#include <deque>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

#include "Certificate.h"
#include "FtpConnection.h"
#include "FtpFileFind.h"
#include "InternetFile.h"
#include "InternetSession.h"
#include "TlsLayer.h"
#include "TlsServer.h"

class TlsSessionTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(TestCertificates::Prepare()) << TestCertificates::Error().toStdString();
        NewSession();
    }

    // A new session: it knows nothing accepted "once" by an earlier one.
    void NewSession() {
        m_session = std::make_unique<CInternetSession>();
        m_session->m_timeouts.connectMs = 5000;
        m_session->m_timeouts.replyMs = 10000;
        m_session->m_timeouts.dataMs = 10000;
        m_session->m_timeouts.activeAcceptMs = 2000;
        m_session->SetCertificateCallback([this](const CertificateVerdict& verdict) {
            m_questions.push_back(verdict);
            if (m_answers.empty())
                return CertificateAnswer::Cancel;
            const CertificateAnswer answer = m_answers.front();
            m_answers.pop_front();
            return answer;
        });
    }

    std::unique_ptr<CFtpConnection> Connect(const TlsServer& server, const QString& address,
                                            bool passive = true) {
        return std::unique_ptr<CFtpConnection>(
            m_session->GetFtpConnection(address, server.User(), server.Password(), 0, passive));
    }

    // The error of a connection that must fail.
    CInternetException ConnectError(const TlsServer& server, const QString& address) {
        try {
            Connect(server, address);
        } catch (const CInternetException& e) {
            return e;
        }
        ADD_FAILURE() << "connected to " << address.toStdString();
        return CInternetException(0, QString());
    }

    static QByteArray Random(qsizetype size) {
        QByteArray data(size, Qt::Uninitialized);
        for (qsizetype i = 0; i < size; ++i)
            data[i] = char(QRandomGenerator::global()->bounded(256));
        return data;
    }

    static void Upload(CFtpConnection& c, const QString& path, const QByteArray& data,
                       qsizetype block) {
        std::unique_ptr<CInternetFile> f(c.OpenFile(path, GENERIC_WRITE));
        for (qsizetype pos = 0; pos < data.size(); pos += block)
            f->Write(data.constData() + pos, unsigned(std::min(block, data.size() - pos)));
        f->Close();
    }

    static QByteArray Download(CFtpConnection& c, const QString& path, unsigned block) {
        std::unique_ptr<CInternetFile> f(c.OpenFile(path, GENERIC_READ));
        QByteArray data;
        std::vector<char> buffer(block);
        while (const unsigned n = f->Read(buffer.data(), block))
            data.append(buffer.data(), n);
        f->Close();
        return data;
    }

    static std::vector<QString> Names(CFtpConnection& c) {
        CFtpFileFind find(&c);
        std::vector<QString> names;
        bool more = find.FindFile();
        while (more) {
            more = find.FindNextFile();
            if (find.GetFileName() != "." && find.GetFileName() != "..")
                names.push_back(find.GetFileName());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::unique_ptr<CInternetSession> m_session;
    std::vector<CertificateVerdict> m_questions;
    std::deque<CertificateAnswer> m_answers;
};
