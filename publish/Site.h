#pragma once
// The places a publish writes to, behind one small interface: a folder on an
// SFTP, FTP(S) or WebDAV server (libcurl) and a local folder. Paths are relative to the
// destination folder ("", "flvs", "ruffle/ruffle.js").

#include "publish/Plan.h"
#include "publish/Publisher.h"

#include <QString>

#include <atomic>
#include <functional>
#include <map>
#include <memory>

namespace Publish {

// A failure, in the words the user reads.
struct Failure {
    QString Message;
    bool Cancelled = false;
};

// Told the bytes of the current file sent so far; answers false to stop.
using ByteReport = std::function<bool(qint64 sent)>;

class Site {
public:
    virtual ~Site() = default;
    // The files of a folder by name with their sizes; empty if it is missing.
    virtual QList<RemoteEntry> List(const QString& folder) = 0;
    // Sends a local file to `path`, making folders as needed.
    virtual void Send(const QString& localFile, const QString& path, const ByteReport& report) = 0;
    // Moves `from` to `to`, which must not exist unless RenameReplaces().
    virtual void Rename(const QString& from, const QString& to) = 0;
    // Whether a rename is expected to replace the file it lands on; one that
    // is refused all the same is handled as where it is not (PlaceFile).
    virtual bool RenameReplaces() const = 0;
    // Best effort, also after a failure or a cancel: never throws.
    virtual void Remove(const QString& path) noexcept = 0;
    // Where the page is found when there is no public address.
    virtual QString Address(const QString& path) const = 0;
};

// Puts the whole file `temp` in the place of `path` (`exists`: whether the
// site holds one there). Where the site's rename does not replace, or a
// replacing rename is refused, the old file steps aside meanwhile and comes
// back on failure. `changed` is set once the site's file at `path` is no
// longer the old one, also when this throws.
void PlaceFile(Site& site, const QString& temp, const QString& path, bool exists, bool& changed);

std::unique_ptr<Site> MakeLocalSite(const Destination& destination);
std::unique_ptr<Site> MakeDavSite(const Destination& destination, const Request& request, CertificateQuestion ask,
                                  const std::atomic<bool>& stop);
std::unique_ptr<Site> MakeFtpSite(const Destination& destination, const Request& request, CertificateQuestion ask,
                                  const std::atomic<bool>& stop);
std::unique_ptr<Site> MakeSftpSite(const Destination& destination, const Request& request, HostKeyQuestion ask,
                                   const std::atomic<bool>& stop);

// Fetches each file back from the public address and compares it with the
// local one; the message names the first that differs, empty if all agree.
struct CheckFile {
    QString Local;
    QString Path;  // relative to the public address
};
QString CheckOnWeb(const QString& publicAddress, const QList<CheckFile>& files, const std::atomic<bool>& stop);

}  // namespace Publish
