#pragma once

#include <QString>
#include <chrono>
#include <functional>
#include <vector>

// The temporary names that the program makes beside the user's files and folders
// (a copy not yet whole, an old file kept until its replacement is in place),
// written down before each is made and struck out once it is gone. A program
// that is killed, or a server that dies mid-copy, leaves names that nobody may
// see; the journal lets a later run find them, and remove those whose maker is
// no longer running, and only those.
//
// The journal is one small file beside the settings, replaced whole through a
// temporary file readable by the user alone; a lock file beside it keeps two
// threads or two running programs from writing it at once.
namespace tempjournal {

enum class Kind { File, Folder, Link };

// The process that made a name: its id, its start time (clock ticks after boot)
// and the boot it belongs to, so that an id used again by another process, in
// this boot or a later one, is not taken for the maker.
struct Owner {
    qint64 pid = 0;
    quint64 started = 0;
    QString boot;

    bool operator==(const Owner&) const = default;
};

// This process.
const Owner& Self();
// True while owner's process runs (a process that has ended but is not yet
// reaped counts as ended).
bool IsRunning(const Owner& owner);

// The place a name lives: this computer, or an FTP site (see RemoteLeftovers.h).
// An empty site is never written.
QString LocalSite();

struct Entry {
    QString site;
    Kind kind = Kind::File;
    QString path;
    Owner owner;
    // For an old file or folder moved aside: the name it was moved from. When a
    // sweep finds that name empty (the run ended between the two renames of a
    // replace), the old one goes back there instead of away.
    QString replaces;
};

// What became of one leftover that a sweep tried.
enum class Outcome { Removed, Restored, Gone, Kept };

// What a sweep did.
struct SweepReport {
    int removed = 0;     // names removed
    int restored = 0;    // old ones put back under the name they replaced
    int gone = 0;        // entries whose names were already gone, or not ours any more
    int kept = 0;        // names that could not be removed now, tried again next time
    int running = 0;     // names of a maker that still runs, left alone
    int unreadable = 0;  // journal lines that could not be read, set aside unused
    bool locked = false; // the journal could not be read or written in time
};

class Journal {
public:
    // $XDG_CONFIG_HOME/Velmar98/temporary-names
    static QString DefaultPath();

    explicit Journal(QString path = DefaultPath());

    // Records path, about to be made by this process. False when the journal
    // cannot be written: the name is then made all the same, as it was before
    // there was a journal, since a copy is never refused for want of a record.
    bool Add(const QString& site, Kind kind, const QString& path,
             const QString& replaces = QString()) const;
    // Strikes out this process's entry for path, once the name is gone (renamed
    // into place or removed) or belongs to the user (an old file that could not
    // be put back).
    bool Drop(const QString& site, const QString& path) const;

    // The entries of every site; unreadable counts the lines that are not entries.
    std::vector<Entry> Entries(int* unreadable = nullptr) const;

    // Hands each entry of site whose maker has ended to remove, until deadline,
    // and strikes out those it says are removed or gone. Lines that cannot be
    // read are kept aside in a file beside the journal (".damaged"), never acted on.
    SweepReport Sweep(const QString& site, const std::function<Outcome(const Entry&)>& remove,
                      std::chrono::steady_clock::time_point deadline) const;

    const QString& Path() const { return m_path; }

private:
    QString m_path;
};

// Removes a local leftover as its entry records it: only when the name is still
// of the recorded kind, never through a link, a folder with what it holds.
Outcome RemoveLocal(const Entry& entry);

// The local leftovers of ended makers, once per process (at start-up), within a
// few seconds.
SweepReport SweepLocalOnce();
// True the first time it is asked for site in this process: a session sweeps a
// site at its first login only.
bool FirstVisit(const QString& site);

// The journal of this program, ignoring its failures: see Journal::Add.
void Note(const QString& site, Kind kind, const QString& path, const QString& replaces = QString());
void Forget(const QString& site, const QString& path);

} // namespace tempjournal
