#include "publish/CurlSite.h"

#include <QDir>
#include <QSet>

namespace Publish {
namespace {

QString ParentOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash);
}

// What PROPFIND asks for: the two properties a listing needs, not all of them.
const char PropfindBody[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<D:propfind xmlns:D=\"DAV:\"><D:prop><D:resourcetype/><D:getcontentlength/></D:prop></D:propfind>\n";

class DavSite : public CurlSite {
public:
    DavSite(const Destination& destination, const Request& request, CertificateQuestion ask, const std::atomic<bool>& stop)
        : CurlSite(destination, destination.Kind == Destination::Protocol::Https ? "https" : "http", QStringLiteral("web"), stop),
          RuffleFolder(QDir(request.HtmlFolder).filePath(QStringLiteral("ruffle")))
    {
        // The folder's path without its last slash: empty for the server's root.
        Root = Where.Folder;
        while (Root.endsWith(QLatin1Char('/')))
            Root.chop(1);
        if (!Root.isEmpty() && !Root.startsWith(QLatin1Char('/')))
            Root.prepend(QLatin1Char('/'));

        // Handed to libcurl only, which keeps its own copy; never part of a
        // URL. Sent with the first request rather than after a refusal, so
        // that a file is not sent twice.
        if (!Where.User.isEmpty() || !request.Password.isEmpty()) {
            Set(CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
            Set(CURLOPT_USERNAME, Where.User.toUtf8().constData());
            Set(CURLOPT_PASSWORD, request.Password.toUtf8().constData());
        }
        if (Where.Kind == Destination::Protocol::Https)
            TrustCertificates(request, std::move(ask));
    }

    QList<RemoteEntry> List(const QString& folder) override
    {
        if (!Propfind)
            return Probe(folder);
        QByteArray body;
        const CurlList headers = MakeCurlList({"Depth: 1", "Content-Type: application/xml; charset=utf-8"});
        Prepare(FolderUrl(Remote(folder)), "PROPFIND");
        Set(CURLOPT_HTTPHEADER, headers.get());
        Set(CURLOPT_POSTFIELDS, PropfindBody);
        Set(CURLOPT_POSTFIELDSIZE, long(sizeof PropfindBody - 1));
        Set(CURLOPT_WRITEFUNCTION, &DavSite::Collect);
        Set(CURLOPT_WRITEDATA, &body);
        const long status = Answer(Perform(), folder);
        switch (status) {
        case 207:
            Existing.insert(folder);
            return ParseMultistatus(body, Remote(folder));
        case 404:
            return {};
        case 405:
        case 501:
            // A server with PUT and MOVE but no PROPFIND (plain nginx).
            Propfind = false;
            return Probe(folder);
        default:
            Refuse(status, folder, Remote(folder));
        }
    }

    void Send(const QString& localFile, const QString& path, const ByteReport& report) override
    {
        MakeFolder(ParentOf(path));
        Prepare(Url(path));
        const long status = Answer(Upload(localFile, report), path, true);
        if (status != 200 && status != 201 && status != 204)
            Refuse(status, path, Remote(ParentOf(path)));
    }

    void Rename(const QString& from, const QString& to) override
    {
        // Overwrite: T makes MOVE replace the file in one step on the server.
        const CurlList headers = MakeCurlList({"Destination: " + Url(to), "Overwrite: T"});
        Prepare(Url(from), "MOVE");
        Set(CURLOPT_HTTPHEADER, headers.get());
        const long status = Answer(Perform(), to);
        if (status != 201 && status != 204)
            Refuse(status, to, Remote(ParentOf(to)));
    }

    bool RenameReplaces() const override { return true; }

    QString Address(const QString& path) const override { return QString::fromUtf8(Url(path)); }

private:
    void Delete(const QString& path) override
    {
        Prepare(Url(path), "DELETE");
        (void)curl_easy_perform(Easy());  // not to ask about a certificate while cleaning up
    }

    QString Remote(const QString& path) const
    {
        if (path.isEmpty())
            return Root.isEmpty() ? QStringLiteral("/") : Root;
        return Root + QLatin1Char('/') + path;
    }
    QByteArray Url(const QString& path) const { return Base + UrlPath(Remote(path)); }
    // A collection's URL ends in a slash; some servers answer the other with a redirect.
    QByteArray FolderUrl(const QString& remote) const
    {
        const QByteArray url = Base + UrlPath(remote);
        return url.endsWith('/') ? url : url + '/';
    }

    void Prepare(const QByteArray& url, const char* method = nullptr)
    {
        CurlSite::Prepare(url);
        // No body left from the last request (a body set after this would
        // make it a POST again).
        Set(CURLOPT_POSTFIELDSIZE, -1L);
        Set(CURLOPT_POSTFIELDS, static_cast<const char*>(nullptr));
        Set(CURLOPT_HTTPGET, 1L);
        Set(CURLOPT_CUSTOMREQUEST, method);
        Set(CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
    }

    // The folder and those above it, made where missing.
    void MakeFolder(const QString& folder)
    {
        if (Existing.contains(folder))
            return;
        if (!folder.isEmpty())
            MakeFolder(ParentOf(folder));
        MakeCollection(Remote(folder));
        Existing.insert(folder);
    }

    // The folders of the destination itself may be missing too, up to the
    // server's root: 409 says the parent is.
    void MakeCollection(const QString& remote)
    {
        if (remote == QLatin1String("/"))
            return;  // the server's root is always there
        for (int attempt = 0;; ++attempt) {
            Prepare(FolderUrl(remote), "MKCOL");
            const long status = Answer(Perform(), {});
            if (status == 201 || status == 405)  // made, or there already
                return;
            const QString parent = ParentOf(remote);
            if (status != 409 || attempt > 0)
                Refuse(status, remote, remote, true);
            MakeCollection(parent.isEmpty() ? QStringLiteral("/") : parent);
        }
    }

    // Without PROPFIND, each Ruffle file is asked for on its own: its size is
    // what decides whether it is sent again.
    QList<RemoteEntry> Probe(const QString& folder)
    {
        QList<RemoteEntry> entries;
        if (folder != QLatin1String("ruffle"))
            return entries;
        for (const QString& name : QDir(RuffleFolder).entryList(QDir::Files, QDir::Name)) {
            Prepare(Url(folder + QLatin1Char('/') + name));
            Set(CURLOPT_NOBODY, 1L);
            const long status = Answer(Perform(), folder);
            curl_off_t size = -1;
            curl_easy_getinfo(Easy(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size);
            if (status == 200 && size >= 0)
                entries.append(RemoteEntry{name, qint64(size), false});
            else if (status != 200 && status != 404)  // no size: sent again
                Refuse(status, folder, Remote(folder));
        }
        return entries;
    }

    // The answer's status, or a failure when there is none.
    long Answer(CURLcode code, const QString& about, bool upload = false)
    {
        if (code != CURLE_OK)
            Fail(code, about, upload);
        long status = 0;
        curl_easy_getinfo(Easy(), CURLINFO_RESPONSE_CODE, &status);
        return status;
    }

    // An answer that is not the one hoped for, in plain words; `folder` is
    // the server's path of the folder it concerns.
    [[noreturn]] void Refuse(long status, const QString& about, const QString& folder, bool making = false)
    {
        const QString host = Where.Host;
        const QString shown = ShownPath(about);
        Failure failure;
        switch (status) {
        case 401:
            failure.Message = Where.User.isEmpty()
                                  ? QStringLiteral("%1 asks for a login: please give the user in the destination (https://user@%1/...) and the password.").arg(host)
                                  : PasswordRefused();
            break;
        case 403:
            failure.Message = making ? QStringLiteral("%1 does not allow the user %2 to make the folder %3.").arg(host, Where.User, folder)
                                     : QStringLiteral("%1 does not allow the user %2 to write in the folder %3.").arg(host, Where.User, folder);
            break;
        case 404:
        case 409:
            failure.Message = QStringLiteral("The folder %1 is missing on %2 and could not be made.").arg(folder, host);
            break;
        case 405:
        case 501:
            failure.Message = QStringLiteral("%1 does not take files at %2 (the server answered %3). Is WebDAV turned on there, and is the address right?")
                                  .arg(host, QString::fromUtf8(Url({})))
                                  .arg(status);
            break;
        case 413:
            failure.Message = QStringLiteral("%1 refused %2: the file is larger than it allows.").arg(host, shown);
            break;
        case 423:
            failure.Message = QStringLiteral("%1 is locked on %2 by another program; please try again later.").arg(shown, host);
            break;
        case 507:
            failure.Message = NoRoom(about);
            break;
        default:
            if (status >= 300 && status < 400)
                failure.Message = QStringLiteral("%1 sends requests for %2 elsewhere (the server answered %3). Is the address right?")
                                      .arg(host, folder)
                                      .arg(status);
            else if (status >= 500)
                failure.Message = QStringLiteral("%1 failed on %2 (the server answered %3). Please try again later.").arg(host, shown).arg(status);
            else
                failure.Message = QStringLiteral("%1 refused %2 (the server answered %3).").arg(host, shown).arg(status);
            break;
        }
        throw failure;
    }

    QString RuffleFolder;
    QString Root;
    QSet<QString> Existing;  // folders known to be there
    bool Propfind = true;
};

}  // namespace

std::unique_ptr<Site> MakeDavSite(const Destination& destination, const Request& request, CertificateQuestion ask,
                                  const std::atomic<bool>& stop)
{
    return std::make_unique<DavSite>(destination, request, std::move(ask), stop);
}

}  // namespace Publish
