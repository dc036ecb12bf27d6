#include "Spawned.h"

#include <QFile>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

pid_t SpawnLogged(const QStringList& command, const QString& log, bool append, int* error) {
    // setpriv gives the child the parent-death signal a forked child would set itself.
    QStringList full = {QStringLiteral("/usr/bin/setpriv"), QStringLiteral("--pdeathsig"),
                        QStringLiteral("KILL"), QStringLiteral("--")};
    full += command;
    std::vector<std::string> storage;
    for (const QString& a : full)
        storage.push_back(QFile::encodeName(a).toStdString());
    std::vector<char*> argv;
    for (std::string& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    const int fd = ::open(QFile::encodeName(log).constData(),
                          O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC), 0644);
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);
    if (fd >= 0) {
        ::posix_spawn_file_actions_adddup2(&actions, fd, 1);
        ::posix_spawn_file_actions_adddup2(&actions, fd, 2);
    }
    // Its own group, so that a kill of the group reaches every process it starts.
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    ::posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = -1;
    const int failed = ::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
    if (fd >= 0)
        ::close(fd);
    if (error)
        *error = failed;
    return failed == 0 ? pid : -1;
}

Spawned::Spawned(const QStringList& command)
    : m_pid(SpawnLogged(command, m_work.filePath(QStringLiteral("output")), false)) {}

Spawned::~Spawned() {
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
}

QByteArray Spawned::Output() const {
    QFile file(m_work.filePath(QStringLiteral("output")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray Spawned::WaitForLine(const QByteArray& prefix, int timeoutMs) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        for (const QByteArray& line : Output().split('\n'))
            if (line.startsWith(prefix))
                return line;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < deadline);
    return QByteArray();
}
