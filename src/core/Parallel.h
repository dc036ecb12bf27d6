#pragma once

#include <QString>
#include <cstdint>
#include <memory>

namespace core {

class RemoteConnection;

// One file of a batch that several transfers share.
struct BatchFile {
    enum class Way { Upload, Download, BetweenRemotes };
    Way way = Way::Upload;
    QString source;
    QString destination;
    // In a folder the batch's own copy has just made: nothing of that name can be
    // there, so nothing is looked up.
    bool fresh = false;
    std::uint64_t size = 0; // for the totals; 0 where unknown
    bool sizeExact = false; // a remote source's size as the server stores it now
};

// A connection lent to code that owns the connections it opens: letting go of
// what this returns leaves the lent connection standing.
std::unique_ptr<RemoteConnection> BorrowConnection(RemoteConnection& connection);

} // namespace core
