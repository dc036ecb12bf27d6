#include "PasswordVault.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>
#include <memory>
#include <qt6keychain/keychain.h>

namespace vault {
namespace {
const QString kService = QStringLiteral("Velmar98");
const QString kProbeKey = QStringLiteral("velmar98-keyring-check");
constexpr int kDefaultWaitMs = 30000;
constexpr int kBusWaitMs = 2000;

enum class State { Unknown, Answers, Silent };
State g_state = State::Unknown;
bool g_told = false;
int g_waitMs = kDefaultWaitMs;

struct JobEnd {
    bool done = false;
    QKeychain::Error error = QKeychain::OtherError;
    QString text;
};

// Runs the job to its end or to the bound. A job that outlives the wait
// finishes into nothing: its connection dies with the loop, and the job, owned
// by the application, deletes itself when it ends or when the program does.
JobEnd RunBounded(QKeychain::Job* job) {
    JobEnd end;
    QEventLoop loop;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&end, &loop](QKeychain::Job* j) {
        end.done = true;
        end.error = j->error();
        if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(j))
            end.text = read->textData();
        loop.quit();
    });
    QTimer bound;
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, &loop, &QEventLoop::quit);
    bound.start(g_waitMs);
    job->start();
    if (!end.done)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    return end;
}

Outcome Run(QKeychain::Job* job, QString* text = nullptr) {
    const JobEnd end = RunBounded(job);
    if (end.done && end.error == QKeychain::NoError) {
        if (text)
            *text = end.text;
        return Outcome::Ok;
    }
    if (end.done && end.error == QKeychain::EntryNotFound)
        return Outcome::NotFound;
    g_state = State::Silent;
    return Outcome::Unavailable;
}

template <class JobType> JobType* NewJob(const QString& key) {
    auto* job = new JobType(kService, QCoreApplication::instance());
    job->setAutoDelete(true);
    job->setKey(key);
    return job;
}

bool Usable() {
    return g_state != State::Silent && QCoreApplication::instance();
}
} // namespace

QString KeyOf(const CProfile& profile) {
    // Spaces and colons stay readable; "@", "/" and "%" are always encoded.
    const QByteArray keep = " :";
    return QString::fromLatin1(QUrl::toPercentEncoding(profile.m_userId, keep) + '@' +
                               QUrl::toPercentEncoding(profile.m_address, keep) + '/' +
                               QUrl::toPercentEncoding(profile.m_name, keep));
}

bool ServiceRunning() {
    // Without a session bus of the user's, asking for one would start one.
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
        (runtime.isEmpty() || !QFileInfo::exists(QFile::decodeName(runtime + "/bus"))))
        return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    ask << QStringLiteral("org.freedesktop.secrets");
    // The bus itself answers this at once; a bus that does not is no keyring.
    const QDBusMessage reply = bus.call(ask, QDBus::Block, kBusWaitMs);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().first().toBool();
}

bool Answers() {
    if (g_state == State::Unknown && Usable()) {
        const bool takes = Store(kProbeKey, QStringLiteral("check")) == Outcome::Ok &&
                           Remove(kProbeKey) == Outcome::Ok;
        g_state = takes ? State::Answers : State::Silent;
    }
    return g_state == State::Answers;
}

Outcome Store(const QString& key, const QString& password) {
    if (!Usable())
        return Outcome::Unavailable;
    auto* job = NewJob<QKeychain::WritePasswordJob>(key);
    job->setTextData(password);
    const Outcome outcome = Run(job);
    // Nothing was stored if "not found" came back: the keyring is not working.
    if (outcome == Outcome::NotFound) {
        g_state = State::Silent;
        return Outcome::Unavailable;
    }
    return outcome;
}

Outcome Fetch(const QString& key, QString* password) {
    if (!Usable())
        return Outcome::Unavailable;
    const bool checked = g_state == State::Answers;
    const Outcome outcome = Run(NewJob<QKeychain::ReadPasswordJob>(key), password);
    if (outcome != Outcome::NotFound || checked)
        return outcome;
    // A locked keyring finds nothing: only a write tells that apart from an entry
    // that is not there. The write's unlock prompt may have opened it: read again.
    if (!Answers())
        return Outcome::Unavailable;
    return Run(NewJob<QKeychain::ReadPasswordJob>(key), password);
}

Outcome Remove(const QString& key) {
    if (!Usable())
        return Outcome::Unavailable;
    const Outcome outcome = Run(NewJob<QKeychain::DeletePasswordJob>(key));
    return outcome == Outcome::NotFound ? Outcome::Ok : outcome;
}

bool TakeSilenceNotice() {
    if (g_state != State::Silent || g_told)
        return false;
    g_told = true;
    return true;
}

void Recheck() {
    if (g_state == State::Answers)
        g_state = State::Unknown;
}

bool Silent() {
    return g_state == State::Silent;
}

int WaitLimitMs() {
    return g_waitMs;
}

void SetWaitLimitMs(int ms) {
    g_waitMs = ms;
}

void ResetSession() {
    g_state = State::Unknown;
    g_told = false;
    g_waitMs = kDefaultWaitMs;
}

} // namespace vault
