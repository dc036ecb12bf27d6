#include "Await.h"
#include "TransferFixture.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include "FtpConnection.h"

TransferEnv::TransferEnv(FtpServer::Kind kind, FtpServer::Options options) : server(kind, options) {
    app = std::make_unique<CVelmarApp>();
    app->SetStartingUp(false);
    app->m_startupDir = m_local.path() + "/";
    frame = new TestFrame; // the application deletes its main window
    app->m_pMainWnd = frame;
    frame->resize(800, 600);
    frame->show();
    CProfile profile = app->Site().Profile();
    profile.m_name = QStringLiteral("Test Site");
    profile.m_address = server.Address();
    profile.m_userId = server.User();
    profile.m_password = server.Password();
    app->Site().SetProfile(profile);
}

TransferEnv::~TransferEnv() {
    app.reset();
}

bool TransferEnv::Connect() {
    CCommStatusDlg dlg(frame);
    return Await(dlg.Connect());
}

std::unique_ptr<CCommStatusDlg> TransferEnv::NewStatusWindow() {
    auto dlg = std::make_unique<CCommStatusDlg>(frame);
    dlg->Create();
    return dlg;
}

bool TransferEnv::WriteLocal(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

QByteArray TransferEnv::ReadLocal(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool TransferEnv::LocalExists(const QString& path) {
    return QFileInfo::exists(path);
}

QByteArray RandomBytes(qsizetype size) {
    QByteArray data(size, Qt::Uninitialized);
    auto* words = reinterpret_cast<quint32*>(data.data());
    QRandomGenerator::global()->fillRange(words, size / 4);
    for (qsizetype i = size / 4 * 4; i < size; ++i)
        data[i] = static_cast<char>(QRandomGenerator::global()->bounded(256));
    return data;
}

std::string KindName(const testing::TestParamInfo<FtpServer::Kind>& info) {
    return FtpServer::KindName(info.param);
}
