#pragma once

#include <QString>

struct CProfile;

namespace core {

class RemoteConnection;

// The journal's name for an FTP site: its host, port and user. Empty for an
// address that cannot be read.
QString LeftoverSiteOf(const CProfile& profile);

// At the first login of this process to the profile's site: removes the
// temporary names that an ended run of the program left there, within a few
// seconds, over the connection just made. Never throws; what cannot be removed
// now is tried at a later run.
void SweepRemoteLeftovers(const CProfile& profile, RemoteConnection* connection);

} // namespace core
