#pragma once
// Puts the generated site page, its player movie, the clip and Ruffle on the
// user's web site (SFTP or a local folder), so that a visitor never gets half
// a file and a failed or cancelled publish leaves the site as it was.

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace Publish {

enum class LoginKind { KeyFile, Agent, Password };

struct Request {
    QString HtmlFolder;      // the program folder's html/
    QString Destination;     // "sftp://", "ftps://", "ftp://", "https://", "http://" or a local folder
    LoginKind Login = LoginKind::Agent;
    QString KeyFile;         // LoginKind::KeyFile: the private key file
    QString Password;        // LoginKind::Password: never stored, logged or shown
    QString PublicAddress;   // where the destination folder is seen on the web; empty: no check
    QString PageName;        // "holiday.html"
    QString PinnedCertificate;  // "SHA256:AB:CD:..." trusted for this site earlier; empty: none
};

struct Progress {
    qint64 BytesDone = 0, BytesTotal = 0;
    int FilesDone = 0, FilesTotal = 0;
    QString File;
};

struct Result {
    bool Ok = false;
    bool Cancelled = false;
    QString Message;
    QString PageAddress;
    QString TrustedCertificate;  // set when the certificate question was answered yes: the caller pins it
};

// Asked on the worker thread for a host key not in ~/.ssh/known_hosts: true
// trusts it (and adds it to known_hosts). The command line answers false (and
// the message names the fingerprint).
using HostKeyQuestion = std::function<bool(const QString& host, const QString& sha256Fingerprint)>;

// Asked on the worker thread for a TLS certificate the system does not trust
// (self-signed, unknown issuer, expired, other name): true trusts it for this
// publish; the caller then pins it (Request::PinnedCertificate) for later
// ones. The command line answers false.
using CertificateQuestion =
    std::function<bool(const QString& host, const QString& sha256Fingerprint, const QString& reason)>;

// The page name a publish uses by default: the clip's name with ".html", read
// from html/SitePage.html; empty if there is none.
QString DefaultPageName(const QString& htmlFolder);

class Worker;

// One publish at a time, on its own worker thread.
class Publisher : public QObject {
    Q_OBJECT
public:
    explicit Publisher(QObject* parent = nullptr);
    ~Publisher() override;           // cancels and waits for the worker
    void Start(const Request& request, HostKeyQuestion askHostKey, CertificateQuestion askCertificate = {});
    void Cancel();                   // prompt; the temporary files it left are removed

signals:
    void ProgressChanged(const Publish::Progress& progress);   // queued to the owner's thread
    void Finished(const Publish::Result& result);

private:
    std::unique_ptr<Worker> Running;
};

} // namespace Publish

Q_DECLARE_METATYPE(Publish::Progress)
Q_DECLARE_METATYPE(Publish::Result)
