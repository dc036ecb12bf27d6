// Copying a file from one local folder to another through the status window, so
// that a large local copy shows its progress and can be cancelled like the
// copies that involve a server.
#include <QFile>
#include <sys/stat.h>
#include <utime.h>

#include "BlockLoop.h"
#include "CopyChecks.h"
#include "FtpSite.h"
#include "Job.h"
#include "LocalFile.h"
#include "Transfer.h"

namespace {
struct LocalStat {
    bool exists = false;
    struct stat st {};
};

LocalStat StatOf(const QString& path, bool followLink) {
    LocalStat result;
    const QByteArray name = QFile::encodeName(path);
    result.exists = (followLink ? ::stat(name.constData(), &result.st)
                                : ::lstat(name.constData(), &result.st)) == 0;
    return result;
}

// The copy keeps the source's time of last change, as a file manager's copy does.
void KeepModifiedTime(const QString& path, const struct stat& source) {
    struct utimbuf times {};
    times.actime = source.st_atime;
    times.modtime = source.st_mtime;
    ::utime(QFile::encodeName(path).constData(), &times);
}
} // namespace

bool core::Transfer::CopyLocalToLocal(const QString& source, const QString& destination) {
    ShowStatus(QStringLiteral("Copying Files - Please Wait"));
    ShowTransferControls();
    ShowLine(core::StatusLine::From, source);
    ShowLine(core::StatusLine::To, destination);
    const bool ok = CopyLocalFileThroughLoop(source, destination);
    ShowStatus(QStringLiteral("Ready"));
    return ok;
}

bool core::Transfer::CopyLocalFileThroughLoop(const QString& source, const QString& destination) {
    // A pipe, a socket or a device is never opened: its open or reads may wait for good.
    for (const auto& refusal :
         {copychecks::SourceRefusal(source), copychecks::TargetRefusal(destination)})
        if (refusal) {
            Fail(*refusal);
            return false;
        }
    const LocalStat from = StatOf(source, true);
    const LocalStat to = StatOf(destination, true);
    // The same file under another name (a hard link, or a link to it) would be
    // emptied by its own copy.
    if (!from.exists || !S_ISREG(from.st.st_mode) ||
        (to.exists && to.st.st_dev == from.st.st_dev && to.st.st_ino == from.st.st_ino)) {
        ReportCopyError();
        return false;
    }
    LocalFile in;
    if (!in.OpenRead(source)) {
        ReportCopyError();
        return false;
    }
    // New name or not, the copy takes the destination's name only once it is
    // whole; until then an old file stays as it was.
    LocalFile out;
    if (!out.OpenTempBeside(destination)) {
        ReportCopyError();
        return false;
    }
    LocalFileSource reader(in);
    LocalFileSink writer(out);
    bool copied = RunBlockLoop(in.Length(), reader, writer, LengthRule::Exact);
    try {
        if (copied) {
            const bool keep = to.exists && S_ISREG(to.st.st_mode);
            out.CommitOver(destination, keep ? to.st.st_mode : from.st.st_mode,
                           keep ? to.st.st_uid : ::geteuid(), keep ? to.st.st_gid : ::getegid());
        } else {
            out.DiscardTemp();
        }
    } catch (const std::exception& error) {
        ReportCopyError(error);
        copied = false;
    }
    if (copied)
        KeepModifiedTime(destination, from.st);
    return copied;
}
