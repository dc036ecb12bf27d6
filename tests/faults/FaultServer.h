#pragma once

// The scripted misbehaving FTP server (fault_server.py) for one scenario, on a free
// port of 127.0.0.1, serving a fresh temporary folder for the life of the object.
#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

class FaultServer {
public:
    explicit FaultServer(const QString& scenario);
    ~FaultServer();
    FaultServer(const FaultServer&) = delete;
    FaultServer& operator=(const FaultServer&) = delete;

    bool IsRunning() const { return m_port != 0; }
    unsigned short Port() const { return m_port; }
    QString Address() const;
    QString Root() const { return m_root.path(); }
    bool WriteFile(const QString& relative, const QByteArray& data) const;
    bool MakeDir(const QString& relative) const;

private:
    QTemporaryDir m_root;
    QProcess m_process;
    unsigned short m_port = 0;
};

// Every file under folder by its relative path, with its SHA-256.
QMap<QString, QByteArray> Snapshot(const QString& folder);
