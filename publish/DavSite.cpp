#include "publish/Curl.h"
#include "publish/Site.h"
#include "publish/Tls.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSet>
#include <QUrl>

#include <cstdio>

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

class DavSite : public Site {
public:
    DavSite(const Destination& destination, const Request& request, CertificateQuestion ask, const std::atomic<bool>& stop)
        : Where(destination), RuffleFolder(QDir(request.HtmlFolder).filePath(QStringLiteral("ruffle"))),
          Trust(destination.Host, request.PinnedCertificate, std::move(ask)), Handle(NewCurlHandle()), Stop(&stop)
    {
        Secure = Where.Kind == Destination::Protocol::Https;
        const QString host = Where.Host.contains(QLatin1Char(':')) ? QLatin1Char('[') + Where.Host + QLatin1Char(']') : Where.Host;
        Base = (Secure ? "https://" : "http://") + QUrl::toPercentEncoding(host, "[]:") + ':' + QByteArray::number(Where.Port);
        // The folder's path without its last slash: empty for the server's root.
        Root = Where.Folder;
        while (Root.endsWith(QLatin1Char('/')))
            Root.chop(1);
        if (!Root.isEmpty() && !Root.startsWith(QLatin1Char('/')))
            Root.prepend(QLatin1Char('/'));

        Set(CURLOPT_PROTOCOLS_STR, Secure ? "https" : "http");
        Set(CURLOPT_NOSIGNAL, 1L);
        Set(CURLOPT_ERRORBUFFER, ErrorText);
        Set(CURLOPT_CONNECTTIMEOUT, 30L);
        // A server that stops answering mid-way: no byte for a minute.
        Set(CURLOPT_LOW_SPEED_LIMIT, 1L);
        Set(CURLOPT_LOW_SPEED_TIME, 60L);
        Set(CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024);
        // Handed to libcurl only, which keeps its own copy; never part of a
        // URL. Sent with the first request rather than after a refusal, so
        // that a file is not sent twice.
        if (!Where.User.isEmpty() || !request.Password.isEmpty()) {
            Set(CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
            Set(CURLOPT_USERNAME, Where.User.toUtf8().constData());
            Set(CURLOPT_PASSWORD, request.Password.toUtf8().constData());
        }
        Set(CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(Handle.get(), CURLOPT_XFERINFOFUNCTION, &DavSite::ProgressCallback);
        curl_easy_setopt(Handle.get(), CURLOPT_XFERINFODATA, this);
        if (Secure)
            Trust.Apply(Handle.get());
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
        curl_easy_setopt(Handle.get(), CURLOPT_WRITEDATA, &body);
        const long status = Perform(folder);
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
        std::unique_ptr<FILE, int (*)(FILE*)> in(std::fopen(QFile::encodeName(localFile).constData(), "rbe"), &std::fclose);
        if (!in)
            throw Failure{QStringLiteral("%1 could not be read.").arg(localFile)};
        MakeFolder(ParentOf(path));
        Prepare(Url(path));
        Report = &report;
        const auto forget = qScopeGuard([this] { Report = nullptr; });
        Set(CURLOPT_UPLOAD, 1L);
        Set(CURLOPT_INFILESIZE_LARGE, curl_off_t(QFileInfo(localFile).size()));
        // libcurl's own reader is fread on the FILE it is given.
        curl_easy_setopt(Handle.get(), CURLOPT_READFUNCTION, nullptr);
        curl_easy_setopt(Handle.get(), CURLOPT_READDATA, in.get());
        const long status = Perform(path, in.get());
        if (status != 200 && status != 201 && status != 204)
            Refuse(status, path, Remote(ParentOf(path)));
    }

    void Rename(const QString& from, const QString& to) override
    {
        // Overwrite: T makes MOVE replace the file in one step on the server.
        const CurlList headers = MakeCurlList({"Destination: " + Url(to), "Overwrite: T"});
        Prepare(Url(from), "MOVE");
        Set(CURLOPT_HTTPHEADER, headers.get());
        const long status = Perform(to);
        if (status != 201 && status != 204)
            Refuse(status, to, Remote(ParentOf(to)));
    }

    bool RenameReplaces() const override { return true; }

    void Remove(const QString& path) noexcept override
    {
        // Cleaning up after a cancel or a broken connection: not to be cancelled
        // itself, and quick to give up on a server that is gone.
        Cleaning = true;
        try {
            Set(CURLOPT_CONNECTTIMEOUT, 10L);
            Prepare(Url(path), "DELETE");
            (void)curl_easy_perform(Handle.get());
        } catch (...) {
        }
        Set(CURLOPT_CONNECTTIMEOUT, 30L);
        Cleaning = false;
    }

    QString Address(const QString& path) const override { return QString::fromUtf8(Url(path)); }

private:
    template <typename Value>
    void Set(CURLoption option, Value value) { curl_easy_setopt(Handle.get(), option, value); }

    // The file a temporary name stands for, as the user knows it.
    static QString Shown(const QString& path)
    {
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        const QString name = path.mid(slash + 1);
        if (!IsTemporaryName(name))
            return path;
        return path.left(slash + 1) + name.mid(1, name.size() - 9);
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
        Set(CURLOPT_URL, url.constData());
        // No body and no upload left from the last request (a body set after
        // this would make it a POST again).
        Set(CURLOPT_POSTFIELDSIZE, -1L);
        Set(CURLOPT_POSTFIELDS, static_cast<const char*>(nullptr));
        Set(CURLOPT_HTTPGET, 1L);
        Set(CURLOPT_CUSTOMREQUEST, method);
        Set(CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
        Set(CURLOPT_INFILESIZE_LARGE, curl_off_t(-1));
        curl_easy_setopt(Handle.get(), CURLOPT_WRITEFUNCTION, &DavSite::Discard);
        ErrorText[0] = '\0';
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
            const long status = Perform({});
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
            const long status = Perform(folder);
            curl_off_t size = -1;
            curl_easy_getinfo(Handle.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size);
            if (status == 200 && size >= 0)
                entries.append(RemoteEntry{name, qint64(size), false});
            else if (status != 200 && status != 404)  // no size: sent again
                Refuse(status, folder, Remote(folder));
        }
        return entries;
    }

    // The answer's status, or a failure when there is none.
    // `in`: the file an upload reads, from its start again if the request is.
    long Perform(const QString& about, FILE* in = nullptr)
    {
        CURLcode code = curl_easy_perform(Handle.get());
        // A certificate the system does not trust, now trusted (pinned, or
        // the user said yes): the same request again, nothing having been sent.
        if (Secure && Trust.Retry(code)) {
            if (in)
                std::rewind(in);
            code = curl_easy_perform(Handle.get());
        }
        const bool upload = in != nullptr;
        if (code != CURLE_OK)
            Fail(code, about, upload);
        long status = 0;
        curl_easy_getinfo(Handle.get(), CURLINFO_RESPONSE_CODE, &status);
        Answered = true;
        return status;
    }

    [[noreturn]] void Fail(CURLcode code, const QString& about, bool upload)
    {
        const QString host = Where.Host;
        const QString text = QString::fromLocal8Bit(ErrorText);
        Failure failure;
        switch (code) {
        case CURLE_ABORTED_BY_CALLBACK:
            throw Failure{{}, true};
        case CURLE_COULDNT_RESOLVE_HOST:
            failure.Message = QStringLiteral("The host \"%1\" was not found. Please check its name; nothing was sent.").arg(host);
            failure.NothingSent = true;
            break;
        case CURLE_COULDNT_CONNECT:
            failure.Message = QStringLiteral("%1 refused the connection on port %2 (or cannot be reached). Is its web server running?").arg(host).arg(Where.Port);
            failure.NothingSent = !Answered;
            if (failure.NothingSent)
                failure.Message += QStringLiteral(" Nothing was sent.");
            break;
        case CURLE_OPERATION_TIMEDOUT:
            failure.Message = QStringLiteral("%1 did not answer in time. Please try again later.").arg(host);
            break;
        default:
            if (upload)
                failure.Message = QStringLiteral("The connection to %1 broke off while sending %2.").arg(host, Shown(about));
            else
                failure.Message = QStringLiteral("Talking to %1 failed: %2").arg(host, text.isEmpty() ? QString::fromUtf8(curl_easy_strerror(code)) : text);
            break;
        }
        throw failure;
    }

    // An answer that is not the one hoped for, in plain words; `folder` is
    // the server's path of the folder it concerns.
    [[noreturn]] void Refuse(long status, const QString& about, const QString& folder, bool making = false)
    {
        const QString host = Where.Host;
        const QString shown = Shown(about);
        Failure failure;
        switch (status) {
        case 401:
            failure.Message = Where.User.isEmpty()
                                  ? QStringLiteral("%1 asks for a login: please give the user in the destination (https://user@%1/...) and the password; nothing was sent.").arg(host)
                                  : QStringLiteral("%1 did not accept the password for the user %2; nothing was sent.").arg(host, Where.User);
            failure.NothingSent = true;
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
            failure.Message = QStringLiteral("There is no room left on %1 for %2.").arg(host, shown);
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

    static size_t Collect(char* data, size_t size, size_t count, void* body)
    {
        auto* into = static_cast<QByteArray*>(body);
        // A listing of a few files is small; a server that sends without end is not one.
        if (into->size() > (16 << 20))
            return 0;
        into->append(data, qsizetype(size * count));
        return size * count;
    }
    static size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

    static int ProgressCallback(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t sent)
    {
        auto* site = static_cast<DavSite*>(self);
        if (site->Cleaning)
            return 0;
        if (site->Stop && site->Stop->load())
            return 1;
        if (site->Report && !(*site->Report)(qint64(sent)))
            return 1;
        return 0;
    }

    Destination Where;
    QString RuffleFolder;
    TlsTrust Trust;  // before the handle, which must not outlive it
    CurlHandle Handle;
    const std::atomic<bool>* Stop;
    QString Root;
    QByteArray Base;
    QSet<QString> Existing;  // folders known to be there
    char ErrorText[CURL_ERROR_SIZE] = {};
    const ByteReport* Report = nullptr;
    bool Secure = false, Propfind = true, Cleaning = false, Answered = false;
};

}  // namespace

std::unique_ptr<Site> MakeDavSite(const Destination& destination, const Request& request, CertificateQuestion ask,
                                  const std::atomic<bool>& stop)
{
    return std::make_unique<DavSite>(destination, request, std::move(ask), stop);
}

}  // namespace Publish
