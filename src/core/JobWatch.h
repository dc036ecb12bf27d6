#pragma once

#include <QObject>

namespace core {

// Tells when the jobs begin and end, on the interface thread: the main window is
// locked from the first to the last. A task that goes straight on from one job
// to the next is one stretch.
class JobWatch : public QObject {
    Q_OBJECT
public:
    static JobWatch& Instance();

signals:
    void started();
    void ended();
};

} // namespace core
