#include "FaultServer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>

FaultServer::FaultServer(const QString& scenario) {
    const QString script = QStringLiteral(VELMAR_SOURCE_DIR "/tests/faults/fault_server.py");
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral("/usr/bin/python3"),
                    {script, scenario, m_root.path(), QStringLiteral("120")});
    if (!m_process.waitForStarted(5000))
        return;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000 && !m_process.canReadLine())
        m_process.waitForReadyRead(200);
    const QByteArray line = m_process.readLine().trimmed();
    if (line.startsWith("PORT "))
        m_port = static_cast<unsigned short>(line.mid(5).toUInt());
}

FaultServer::~FaultServer() {
    m_process.kill();
    m_process.waitForFinished(5000);
}

QString FaultServer::Address() const {
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

bool FaultServer::WriteFile(const QString& relative, const QByteArray& data) const {
    QFile f(m_root.filePath(relative));
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

bool FaultServer::MakeDir(const QString& relative) const {
    return QDir(m_root.path()).mkpath(relative);
}

QMap<QString, QByteArray> Snapshot(const QString& folder) {
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    const QDir base(folder);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        QByteArray hash = "unreadable";
        if (f.open(QIODevice::ReadOnly))
            hash = QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
        files.insert(base.relativeFilePath(path), hash);
    }
    return files;
}
