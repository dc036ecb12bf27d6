#pragma once

#include <QObject>

// Whether a communication holds the main window: from the moment a pane locks
// the window for FTP or copy work until it gives it back, message boxes and all.
// That is longer than any one job runs, so it is kept apart from the jobs' own
// count. Communications may nest (a copy that reads the folder it copied into);
// the window is held until the outermost one ends.
class CommActivity : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    bool InProgress() const { return m_depth > 0; }
    void Begin();
    void End();

signals:
    // The outermost communication has ended: the window is free again.
    void ended();

private:
    int m_depth = 0;
};

// One communication for as long as the guard lives.
class CommHold {
public:
    explicit CommHold(CommActivity& activity) : m_activity(activity) { m_activity.Begin(); }
    ~CommHold() { m_activity.End(); }
    CommHold(const CommHold&) = delete;
    CommHold& operator=(const CommHold&) = delete;

private:
    CommActivity& m_activity;
};
