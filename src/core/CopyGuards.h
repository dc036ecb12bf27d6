#pragma once

// What every single-file copy holds while it runs: the status bar's pane, and
// the remote files that are dropped on a path that did not close them.
#include <QString>
#include <memory>

#include "RemoteSite.h"
#include "Transfer.h"

namespace copyguards {
inline const QString kCopying = QStringLiteral("Copying Files - Please Wait");
inline const QString kReady = QStringLiteral("Ready");
inline const QString kRetrieving = QStringLiteral("Retrieving Length of FTP File");

// Pane 0 ends every copy with "Ready", however the copy ends.
class PaneReady {
public:
    explicit PaneReady(core::Transfer& dlg) : m_dlg(dlg) { m_dlg.ShowStatus(kCopying); }
    ~PaneReady() { m_dlg.ShowStatus(kReady); }
    PaneReady(const PaneReady&) = delete;
    PaneReady& operator=(const PaneReady&) = delete;

private:
    core::Transfer& m_dlg;
};

// An open remote file that is dropped when it goes out of scope on a path that
// did not close it; the copy has failed (and said so) already.
template <typename File> struct Abandoning {
    void operator()(File* file) const {
        file->Abandon();
        delete file;
    }
};
using RemoteIn = std::unique_ptr<core::RemoteReader, Abandoning<core::RemoteReader>>;
using RemoteOut = std::unique_ptr<core::RemoteWriter, Abandoning<core::RemoteWriter>>;
} // namespace copyguards
