#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

// One entry found by CLocalFind. Times are seconds since 1970-01-01 UTC.
struct LocalFindEntry {
    QString name;
    bool isFolder = false; // what the entry is, or what it points to when a link
    bool isLink = false;   // the entry itself is a symbolic link
    std::uint64_t size = 0;
    std::int64_t creationTime = 0;
    std::int64_t accessTime = 0;
    std::int64_t lastWriteTime = 0;
};

// Find-first / find-next over the local file system. A pattern that ends in "*.*"
// (or "*") lists the folder before it and delivers "." and ".." first, as the
// callers expect; any other pattern names one file or folder and yields that
// entry alone. Symbolic links are followed for isFolder, size and times (a
// dangling link is a file); isLink tells that the entry itself is a link, which a
// delete removes as such and never walks into.
class CLocalFind {
public:
    CLocalFind() = default;
    ~CLocalFind();
    CLocalFind(const CLocalFind&) = delete;
    CLocalFind& operator=(const CLocalFind&) = delete;

    // Makes the first entry current; false when nothing is found.
    bool FindFirst(const QString& pattern);
    // Makes the next entry current; false when there is none.
    bool FindNext();
    const LocalFindEntry& Current() const { return m_current; }
    void Close();

private:
    bool ReadNextFromDir();

    void* m_dir = nullptr; // DIR*
    QByteArray m_folder;
    int m_pending = 0; // "." and ".." still to deliver
    LocalFindEntry m_current;
};

// The "drives" of this platform: the user's home folder and the root "/", each
// labelled with its absolute path.
QStringList LocalDrives();

// Joins a folder path (with or without its trailing "/") and a name.
QString JoinLocal(const QString& folder, const QString& name);
