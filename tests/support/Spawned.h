#pragma once

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>
#include <sys/types.h>

// Starts command spawned, never forked (a fork copies the test's threads'
// locks, and ThreadSanitizer refuses such a child), in a process group of its
// own, with the parent-death signal so that it never outlives a crashed test;
// its stdout and stderr go to log, appended or from empty. The pid, or -1 with
// the reason (an errno value) in *error.
pid_t SpawnLogged(const QStringList& command, const QString& log, bool append,
                  int* error = nullptr);

// A helper program for the life of the object: spawned, never forked (a fork
// copies the test's threads' locks, and ThreadSanitizer refuses such a child),
// killed with the test if the test dies, its output gathered in a file.
class Spawned {
public:
    explicit Spawned(const QStringList& command);
    ~Spawned();
    Spawned(const Spawned&) = delete;
    Spawned& operator=(const Spawned&) = delete;

    bool IsRunning() const { return m_pid > 0; }
    // What it has written so far, stdout and stderr together.
    QByteArray Output() const;
    // The first line of its output that begins with prefix, once it is there
    // (empty after timeoutMs).
    QByteArray WaitForLine(const QByteArray& prefix, int timeoutMs) const;

private:
    QTemporaryDir m_work;
    pid_t m_pid = -1;
};
