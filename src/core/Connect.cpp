// The connection to the active profile's server. The blocking connect runs on a
// worker thread of its own while the transfer waits a bounded time for it, so
// that a server that never answers can be given up on.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "Certificate.h"
#include "FtpConnection.h"
#include "FtpSite.h"
#include "InternetSession.h"
#include "Job.h"
#include "RemoteLeftovers.h"
#include "SftpRemote.h"
#include "Transfer.h"

// What the worker and Connect share. The worker never touches the site once
// Connect has given up (the site may be gone by then); whatever it brings back
// late is closed and dropped here, together with the session that Connect
// handed over when it gave up.
struct ConnectAttempt {
    std::mutex mutex;
    bool done = false;
    bool abandoned = false;
    core::FtpSite* site = nullptr;
    CInternetSession* session = nullptr; // owned by the site until abandoned
    QString address, userId, password;
    std::unique_ptr<CFtpConnection> connection;
    std::unique_ptr<CInternetSession> abandonedSession;
    int errorCode = 0;
    QString errorText;

    // A question about a certificate that the worker waits on; only the
    // user-interface thread may show it.
    std::condition_variable answered;
    // Connect waits on this for a question or the end of the attempt.
    std::condition_variable news;
    std::optional<CertificateVerdict> question;
    bool asking = false;
    std::optional<CertificateAnswer> answer;

    CertificateAnswer Ask(const CertificateVerdict& verdict) {
        std::unique_lock lock(mutex);
        if (abandoned)
            return CertificateAnswer::Cancel;
        question = verdict;
        answer.reset();
        news.notify_all();
        answered.wait(lock, [this] { return answer.has_value() || abandoned; });
        question.reset();
        asking = false;
        return answer.value_or(CertificateAnswer::Cancel);
    }

    ~ConnectAttempt() {
        if (connection)
            connection->Close();
        if (abandonedSession)
            abandonedSession->Close();
    }
};

namespace {
// Workers still running after their Connect has returned.
std::mutex g_workersMutex;
std::condition_variable g_workersIdle;
int g_workers = 0;

struct WorkerCount {
    WorkerCount() {
        std::lock_guard lock(g_workersMutex);
        ++g_workers;
    }
    ~WorkerCount() {
        std::lock_guard lock(g_workersMutex);
        --g_workers;
        g_workersIdle.notify_all();
    }
};

// Every worker thread, joined once it has ended: at the latest when this file's
// statics go, which is before the counter above goes. A worker still connecting
// then has its session closed, which ends the connect at once, so the exit
// neither waits out the time-outs nor leaves a thread behind that outlives the
// statics it uses.
class WorkerRegistry {
public:
    ~WorkerRegistry() {
        std::vector<Worker> workers;
        {
            std::lock_guard lock(m_mutex);
            workers.swap(m_workers);
        }
        for (Worker& w : workers) {
            if (std::shared_ptr<ConnectAttempt> attempt = w.attempt.lock()) {
                std::lock_guard lock(attempt->mutex);
                if (attempt->abandonedSession)
                    attempt->abandonedSession->Close();
            }
            w.thread.join();
        }
    }

    // Starts a worker that runs body for attempt; false when no thread can be made.
    bool Start(const std::shared_ptr<ConnectAttempt>& attempt, std::function<void()> body) {
        auto finished = std::make_shared<std::atomic<bool>>(false);
        std::lock_guard lock(m_mutex);
        ReapLocked();
        try {
            // The worker counts as running until its last reference to the attempt
            // is gone, since dropping it may close a late connection and the session.
            std::thread thread([body = std::move(body), finished]() mutable {
                {
                    WorkerCount running;
                    const std::function<void()> run = std::move(body);
                    run();
                }
                finished->store(true);
            });
            m_workers.push_back(Worker{std::move(thread), attempt, finished});
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }

    void Reap() {
        std::lock_guard lock(m_mutex);
        ReapLocked();
    }

private:
    struct Worker {
        std::thread thread;
        std::weak_ptr<ConnectAttempt> attempt;
        std::shared_ptr<std::atomic<bool>> finished;
    };

    void ReapLocked() {
        for (auto it = m_workers.begin(); it != m_workers.end();) {
            if (it->finished->load()) {
                it->thread.join();
                it = m_workers.erase(it);
            } else {
                ++it;
            }
        }
    }

    std::mutex m_mutex;
    std::vector<Worker> m_workers;
};

WorkerRegistry g_registry;

constexpr auto kPollStep = std::chrono::milliseconds(20);

// The question asked for connections other than the main one.
std::mutex g_questionMutex;
core::CertificateQuestion g_question;

CertificateAnswer AskForOtherConnection(const CertificateVerdict& verdict) {
    core::CertificateQuestion question;
    {
        std::lock_guard lock(g_questionMutex);
        question = g_question;
    }
    if (!question)
        return CertificateAnswer::Cancel;
    CertificateAnswer answer = CertificateAnswer::Cancel;
    core::CallOnUi([&] { answer = question(verdict); });
    return answer;
}

// Set on the connect worker: its questions go through the attempt, which Connect
// answers or abandons. Every other thread asks the user directly.
thread_local bool t_connectWorker = false;
} // namespace

void core::SetCertificateQuestion(CertificateQuestion question) {
    std::lock_guard lock(g_questionMutex);
    g_question = std::move(question);
}

bool core::Transfer::WaitForConnectWorkers(int timeoutMs) {
    bool idle = false;
    {
        std::unique_lock lock(g_workersMutex);
        idle = g_workersIdle.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                      [] { return g_workers == 0; });
    }
    g_registry.Reap();
    return idle;
}

void core::Transfer::ConnectThreadProc(std::shared_ptr<ConnectAttempt> attempt) {
    t_connectWorker = true;
    std::unique_ptr<CFtpConnection> connection;
    try {
        connection.reset(attempt->session->GetFtpConnection(attempt->address, attempt->userId,
                                                            attempt->password,
                                                            INTERNET_INVALID_PORT_NUMBER, false));
    } catch (const CInternetException& e) {
        connection.reset(); // refused or unreachable: Connect reports it
        std::lock_guard lock(attempt->mutex);
        attempt->errorCode = e.m_dwError;
        attempt->errorText = e.Message();
    } catch (const std::exception&) {
        connection.reset();
    }
    std::lock_guard lock(attempt->mutex);
    if (attempt->abandoned) {
        // Connect has already reported the failure; a late connection must not
        // surface. The attempt's destructor closes it with the session.
        attempt->connection = std::move(connection);
        return;
    }
    const bool connected = connection != nullptr;
    attempt->connection = std::move(connection);
    attempt->done = true;
    attempt->site->EndConnectAttempt(connected);
    attempt->news.notify_all();
}

bool core::Transfer::Connect() {
    // There is nothing to keep: a caller connects only without a session.
    m_site->Close();
    // The goodbye to the last connection is said first: a server that allows one
    // connection per address would otherwise refuse this one.
    JoinBackgroundWork();
    QString sshHost;
    int sshPort = 0;
    if (ParseSftpAddress(m_site->Profile().m_address, sshHost, sshPort))
        return ConnectSftp(sshHost, sshPort);

    Post([this] {
        m_view.ShowConnectStep(QStringLiteral("Opening Internet Connection - Please Wait"));
    });
    auto session = std::make_unique<CInternetSession>(QString(), 1, PRE_CONFIG_INTERNET_ACCESS,
                                                      QString(), QString(), 0);
    // A server that accepts the call and then stays silent must not keep the
    // worker for long after Connect has given up on it.
    session->m_timeouts.connectMs = kConnectWaitMs;
    session->m_timeouts.replyMs = 15000;
    // The questions about certificates: the connect worker hands its over to the
    // loop below; the extra connections of copies and deletions ask the views'
    // question. The session may outlive this transfer, so it keeps no tie to it.
    auto worker = std::make_shared<std::weak_ptr<ConnectAttempt>>();
    session->SetCertificateCallback([worker](const CertificateVerdict& verdict) {
        if (!t_connectWorker)
            return AskForOtherConnection(verdict);
        if (auto attempt = worker->lock())
            return attempt->Ask(verdict);
        return CertificateAnswer::Cancel; // no one to ask: refused
    });
    m_site->SetSession(std::move(session));

    Post([this] {
        m_view.ShowConnectStep(QStringLiteral("Connecting to FTP Server - Please Wait"));
    });
    m_site->BeginConnectAttempt();
    auto attempt = std::make_shared<ConnectAttempt>();
    attempt->site = m_site;
    attempt->session = m_site->Session();
    attempt->address = m_site->Profile().m_address;
    attempt->userId = m_site->Profile().m_userId;
    attempt->password = m_site->Profile().m_password;
    *worker = attempt;
    const bool started =
        g_registry.Start(attempt, [attempt]() mutable { ConnectThreadProc(std::move(attempt)); });

    // The worker wakes this wait at once with its question or its end.
    auto deadline = Clock::now() + std::chrono::milliseconds(kConnectWaitMs);
    std::unique_ptr<CFtpConnection> connection;
    bool answered = false;
    while (started) {
        {
            std::unique_lock lock(attempt->mutex);
            // Woken by the worker's question or its end; a stop is looked at each step.
            attempt->news.wait_for(lock, kPollStep, [&] {
                return attempt->done || (attempt->question && !attempt->asking);
            });
            if (attempt->question && !attempt->asking) {
                // The user's thinking time is not the server's: the wait starts anew.
                attempt->asking = true;
                const CertificateVerdict verdict = *attempt->question;
                lock.unlock();
                CertificateAnswer answer = CertificateAnswer::Cancel;
                Call([&] { answer = m_view.AskAboutCertificate(verdict); });
                lock.lock();
                attempt->answer = answer;
                attempt->answered.notify_all();
                deadline = Clock::now() + std::chrono::milliseconds(kConnectWaitMs);
                continue;
            }
            if (attempt->done) {
                answered = true;
                connection = std::move(attempt->connection);
                break;
            }
            if (Clock::now() >= deadline) {
                // Give up: the worker keeps the session until it returns, then
                // drops it with whatever it got.
                attempt->abandoned = true;
                attempt->answered.notify_all();
                attempt->abandonedSession = m_site->TakeSession();
                // Nobody waits for that connect any more: end it now rather than
                // after its own time-outs.
                attempt->abandonedSession->Close();
                break;
            }
        }
    }
    if (!connection) {
        if (answered || !started) {
            m_site->CloseSession();
        }
        QString detail;
        auto kind = core::TransferError::Kind::Connect;
        {
            std::lock_guard lock(attempt->mutex);
            if (attempt->errorCode == ERROR_INTERNET_SECURITY_CHANNEL_ERROR ||
                attempt->errorCode == ERROR_INTERNET_TLS_WITHDRAWN)
                detail = attempt->errorText;
            if (attempt->errorCode == ERROR_INTERNET_TLS_WITHDRAWN)
                kind = core::TransferError::Kind::TlsWithdrawn;
        }
        // A failure of the secure channel is told in its own words (a server
        // without TLS, a broken handshake, one that dropped the TLS it had): the
        // user must know that nothing went out in clear.
        Fail({kind, {}, {}, detail});
        return false;
    }
    m_site->SetConnection(std::move(connection));
    return FinishConnect(m_site->Connection());
}

bool core::Transfer::FinishConnect(CFtpConnection* connection) {
    if (m_view.StartingUp())
        Post([this] {
            m_view.ShowConnectStep(QStringLiteral("Reading FTP Directory - Please Wait"));
        });
    try {
        const QString initialDir = m_site->Profile().m_initialDir;
        if (!initialDir.isEmpty() && !connection->SetCurrentDirectory(initialDir))
            Fail({core::TransferError::Kind::InitialDir, initialDir, {}, {}});
        m_site->SetCurrentDir(QString()); // never the folder of an earlier connection
        QString currentDir;
        connection->GetCurrentDirectory(currentDir);
        m_site->SetCurrentDir(currentDir);
        SweepRemoteLeftovers(m_site->Profile(), m_site->Remote());
    } catch (const std::exception&) {
        // The connection died right after the login: no half-made state is kept.
        m_site->Close();
        ReportConnectError();
        return false;
    }
    return true;
}
