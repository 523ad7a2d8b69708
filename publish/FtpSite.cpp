#include "publish/Curl.h"
#include "publish/Site.h"
#include "publish/Tls.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <pwd.h>
#include <unistd.h>

#include <cstdio>

namespace Publish {

namespace {

QString LoginName()
{
    const QString user = qEnvironmentVariable("USER");
    if (!user.isEmpty())
        return user;
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return {};
}

// A folder on an FTP server; with ftps:// every command and every byte goes
// over TLS (explicit, after AUTH TLS), the login included.
class FtpSite : public Site {
public:
    FtpSite(const Destination& destination, const Request& request, CertificateQuestion ask, const std::atomic<bool>& stop)
        : Where(destination), Handle(NewCurlHandle()), Stop(&stop),
          Trust(destination.Host, request.PinnedCertificate, std::move(ask))
    {
        if (Where.User.isEmpty())
            Where.User = LoginName();
        if (request.Password.isEmpty())
            throw Failure{QStringLiteral("Please give the password for the user %1 on %2; nothing was sent.").arg(Where.User, Where.Host), false, true};
        const QString host = Where.Host.contains(QLatin1Char(':')) ? QLatin1Char('[') + Where.Host + QLatin1Char(']') : Where.Host;
        Base = "ftp://" + QUrl::toPercentEncoding(host, "[]:") + ':' + QByteArray::number(Where.Port);

        Set(CURLOPT_PROTOCOLS_STR, "ftp");
        Set(CURLOPT_NOSIGNAL, 1L);
        Set(CURLOPT_ERRORBUFFER, ErrorText);
        Set(CURLOPT_USERNAME, Where.User.toUtf8().constData());
        // Handed to libcurl only, which keeps its own copy; never part of a URL.
        Set(CURLOPT_PASSWORD, request.Password.toUtf8().constData());
        Set(CURLOPT_CONNECTTIMEOUT, 30L);
        Set(CURLOPT_FTP_RESPONSE_TIMEOUT, 60L);
        // A server that stops answering mid-way: no byte for a minute.
        Set(CURLOPT_LOW_SPEED_LIMIT, 1L);
        Set(CURLOPT_LOW_SPEED_TIME, 60L);
        Set(CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_MULTICWD));
        Set(CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024);
        if (Where.Kind == Destination::Protocol::Ftps) {
            Set(CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
            Set(CURLOPT_FTPSSLAUTH, long(CURLFTPAUTH_TLS));
            Trust.Apply(Handle.get());
        }
        Set(CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(Handle.get(), CURLOPT_XFERINFOFUNCTION, &FtpSite::ProgressCallback);
        curl_easy_setopt(Handle.get(), CURLOPT_XFERINFODATA, this);
    }

    QList<RemoteEntry> List(const QString& folder) override
    {
        QByteArray listing;
        const auto list = [&](const char* command) {
            listing.clear();
            Prepare(Url(folder) + '/');
            Set(CURLOPT_CUSTOMREQUEST, command);
            Set(CURLOPT_WRITEFUNCTION, &FtpSite::Collect);
            curl_easy_setopt(Handle.get(), CURLOPT_WRITEDATA, &listing);
            const CURLcode code = Perform();
            Set(CURLOPT_CUSTOMREQUEST, static_cast<const char*>(nullptr));
            return code;
        };
        // Hidden files too: what an earlier publish left half-sent. A server
        // that takes "-a" for a name answers "no such file"; plain LIST then.
        CURLcode code = list("LIST -a");
        const auto refused = [](CURLcode code) { return code == CURLE_FTP_COULDNT_RETR_FILE || code == CURLE_REMOTE_FILE_NOT_FOUND; };
        if (refused(code))
            code = list(nullptr);
        // A folder that cannot be entered is not there yet, and some servers
        // refuse to list an empty one; one that cannot be written shows when
        // the first file goes out.
        if (code == CURLE_REMOTE_ACCESS_DENIED || refused(code))
            return {};
        Check(code, folder.isEmpty() ? Where.Folder : folder);
        return ParseListing(listing);
    }

    void Send(const QString& localFile, const QString& path, const ByteReport& report) override
    {
        std::unique_ptr<FILE, int (*)(FILE*)> in(std::fopen(QFile::encodeName(localFile).constData(), "rbe"), &std::fclose);
        if (!in)
            throw Failure{QStringLiteral("%1 could not be read.").arg(localFile)};
        Prepare(Url(path));
        Report = &report;
        Set(CURLOPT_UPLOAD, 1L);
        Set(CURLOPT_FTP_CREATE_MISSING_DIRS, long(CURLFTP_CREATE_DIR));
        Set(CURLOPT_INFILESIZE_LARGE, curl_off_t(QFileInfo(localFile).size()));
        // libcurl's own reader is fread on the FILE it is given.
        curl_easy_setopt(Handle.get(), CURLOPT_READFUNCTION, nullptr);
        curl_easy_setopt(Handle.get(), CURLOPT_READDATA, in.get());
        const CURLcode code = Perform();
        Set(CURLOPT_FTP_CREATE_MISSING_DIRS, long(CURLFTP_CREATE_DIR_NONE));
        Report = nullptr;
        Check(code, path, true);
    }

    void Rename(const QString& from, const QString& to) override
    {
        // Most servers replace the file renamed onto (a plain rename()); one
        // that refuses gets the old file set aside for the moment it takes.
        if (Quote({"RNFR " + Remote(from), "RNTO " + Remote(to)}) == CURLE_OK)
            return;
        const QString aside = AsideOf(to);
        if (Quote({"RNFR " + Remote(to), "RNTO " + Remote(aside)}) != CURLE_OK) {
            Check(Quote({"RNFR " + Remote(from), "RNTO " + Remote(to)}), to);  // not there after all, or the reason
            return;
        }
        const CURLcode code = Quote({"RNFR " + Remote(from), "RNTO " + Remote(to)});
        if (code != CURLE_OK) {
            (void)Quote({"RNFR " + Remote(aside), "RNTO " + Remote(to)});
            Check(code, to);
        }
        Remove(aside);
    }

    bool RenameReplaces() const override { return true; }

    void Remove(const QString& path) noexcept override
    {
        // Cleaning up after a cancel or a broken connection: not to be cancelled
        // itself, and quick to give up on a server that is gone.
        Cleaning = true;
        try {
            Set(CURLOPT_CONNECTTIMEOUT, 10L);
            (void)Quote({"DELE " + Remote(path)});
        } catch (...) {
        }
        Set(CURLOPT_CONNECTTIMEOUT, 30L);
        Cleaning = false;
    }

    QString Address(const QString& path) const override
    {
        const QByteArray scheme = Where.Kind == Destination::Protocol::Ftps ? "ftps://" : "ftp://";
        return QString::fromUtf8(scheme + QUrl::toPercentEncoding(Where.User) + '@' + Base.mid(6) + '/' + UrlPath(Relative(path)));
    }

private:
    template <typename Value>
    void Set(CURLoption option, Value value) { curl_easy_setopt(Handle.get(), option, value); }

    static QString AsideOf(const QString& path)
    {
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        return path.left(slash + 1) + AsideName(path.mid(slash + 1));
    }

    // The file a temporary name stands for, as the user knows it.
    static QString Shown(const QString& path)
    {
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        const QString name = path.mid(slash + 1);
        if (!IsTemporaryName(name))
            return path;
        return path.left(slash + 1) + name.mid(1, name.size() - 9);
    }

    // The path in the URL: from the login's folder ("~/www") or from the
    // root, which curl writes as "%2F".
    QString Relative(const QString& path) const
    {
        QString folder = Where.Folder;
        if (folder == QLatin1String("~"))
            folder.clear();
        else if (folder.startsWith(QLatin1String("~/")))
            folder = folder.mid(2);
        if (path.isEmpty())
            return folder;
        return folder.isEmpty() || folder == QLatin1String("/") ? folder + path : folder + QLatin1Char('/') + path;
    }
    QByteArray Url(const QString& path) const
    {
        const QString relative = Relative(path);
        if (relative.startsWith(QLatin1Char('/')))
            return Base + "/%2F" + UrlPath(relative.mid(1));
        return Base + '/' + UrlPath(relative);
    }
    // The path in a command, absolute: where the session stands when libcurl
    // sends it depends on what the connection did before.
    QByteArray Remote(const QString& path)
    {
        const QString relative = Relative(path);
        if (relative.startsWith(QLatin1Char('/')))
            return relative.toUtf8();
        if (Entry.isEmpty()) {
            const char* entry = nullptr;
            if (curl_easy_getinfo(Handle.get(), CURLINFO_FTP_ENTRY_PATH, &entry) == CURLE_OK && entry)
                Entry = QString::fromUtf8(entry);
        }
        if (Entry.isEmpty())
            throw Failure{QStringLiteral("%1 did not say which folder the login starts in.").arg(Where.Host)};
        return (Entry.endsWith(QLatin1Char('/')) ? Entry + relative : Entry + QLatin1Char('/') + relative).toUtf8();
    }

    void Prepare(const QByteArray& url)
    {
        Set(CURLOPT_URL, url.constData());
        Set(CURLOPT_UPLOAD, 0L);
        Set(CURLOPT_NOBODY, 0L);
        Set(CURLOPT_QUOTE, static_cast<curl_slist*>(nullptr));
        Set(CURLOPT_INFILESIZE_LARGE, curl_off_t(-1));
        curl_easy_setopt(Handle.get(), CURLOPT_WRITEFUNCTION, &FtpSite::Discard);
        ErrorText[0] = '\0';
    }

    // Runs the transfer; once more when its certificate was refused and the
    // user (or a pin) has since trusted it.
    CURLcode Perform()
    {
        CURLcode code = curl_easy_perform(Handle.get());
        while (Trust.Retry(code))
            code = curl_easy_perform(Handle.get());
        return code;
    }

    CURLcode Quote(const QList<QByteArray>& commands)
    {
        const CurlList list = MakeCurlList(commands);
        Prepare(Base + '/');
        Set(CURLOPT_NOBODY, 1L);
        Set(CURLOPT_QUOTE, list.get());
        const CURLcode code = Perform();
        Set(CURLOPT_QUOTE, static_cast<curl_slist*>(nullptr));
        if (code == CURLE_ABORTED_BY_CALLBACK)
            throw Failure{{}, true};
        return code;
    }

    static size_t Collect(char* data, size_t size, size_t count, void* listing)
    {
        static_cast<QByteArray*>(listing)->append(data, qsizetype(size * count));
        return size * count;
    }
    static size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

    static int ProgressCallback(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t sent)
    {
        auto* site = static_cast<FtpSite*>(self);
        if (site->Cleaning)
            return 0;
        if (site->Stop && site->Stop->load())
            return 1;
        if (site->Report && !(*site->Report)(qint64(sent)))
            return 1;
        return 0;
    }

    void Check(CURLcode code, const QString& about, bool upload = false)
    {
        if (code == CURLE_OK)
            return;
        const QString host = Where.Host;
        const QString text = QString::fromLocal8Bit(ErrorText);
        long reply = 0;
        curl_easy_getinfo(Handle.get(), CURLINFO_RESPONSE_CODE, &reply);
        Failure failure;
        switch (code) {
        case CURLE_ABORTED_BY_CALLBACK:
            throw Failure{{}, true};
        case CURLE_COULDNT_RESOLVE_HOST:
            failure.Message = QStringLiteral("The host \"%1\" was not found. Please check its name; nothing was sent.").arg(host);
            failure.NothingSent = true;
            break;
        case CURLE_COULDNT_CONNECT:
            failure.Message = QStringLiteral("%1 refused the connection on port %2 (or cannot be reached). Is its FTP server running? Nothing was sent.").arg(host).arg(Where.Port);
            failure.NothingSent = true;
            break;
        case CURLE_OPERATION_TIMEDOUT:
            failure.Message = QStringLiteral("%1 did not answer in time. Please try again later.").arg(host);
            break;
        case CURLE_USE_SSL_FAILED:
            failure.Message = QStringLiteral("%1 does not offer FTP over TLS (AUTH TLS); nothing was sent. If the site has no other way, "
                                             "use ftp:// knowing that the password crosses the network readable.").arg(host);
            failure.NothingSent = true;
            break;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
            failure.Message = QStringLiteral("The secure connection to %1 failed: %2").arg(host, text);
            failure.NothingSent = true;
            break;
        case CURLE_LOGIN_DENIED:
            failure.Message = QStringLiteral("%1 did not accept the password for the user %2; nothing was sent.").arg(host, Where.User);
            failure.NothingSent = true;
            break;
        case CURLE_REMOTE_ACCESS_DENIED:
            failure.Message = QStringLiteral("The folder %1 on %2 cannot be made or is not writable for the user %3.")
                                  .arg(Where.Folder, host, Where.User);
            break;
        case CURLE_QUOTE_ERROR:
            failure.Message = QStringLiteral("%1 could not put %2 in place: %3").arg(host, about, text);
            break;
        case CURLE_REMOTE_DISK_FULL:
            failure.Message = QStringLiteral("There is no room left on %1 for %2.").arg(host, Shown(about));
            break;
        case CURLE_UPLOAD_FAILED:
            // The server's reply to STOR: 452/552 no room, 553/550 not allowed.
            if (reply == 452 || reply == 552)
                failure.Message = QStringLiteral("There is no room left on %1 for %2.").arg(host, Shown(about));
            else if (reply == 550 || reply == 553)
                failure.Message = QStringLiteral("The folder %1 on %2 is not writable for the user %3.").arg(Where.Folder, host, Where.User);
            else
                failure.Message = QStringLiteral("%1 could not store %2 (%3).").arg(host, Shown(about), text);
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

    Destination Where;
    CurlHandle Handle;
    const std::atomic<bool>* Stop;
    TlsTrust Trust;
    QByteArray Base;
    QString Entry;  // the folder the login starts in, as the server names it
    char ErrorText[CURL_ERROR_SIZE] = {};
    const ByteReport* Report = nullptr;
    bool Cleaning = false;
};

}  // namespace

std::unique_ptr<Site> MakeFtpSite(const Destination& destination, const Request& request, CertificateQuestion ask,
                                  const std::atomic<bool>& stop)
{
    return std::make_unique<FtpSite>(destination, request, std::move(ask), stop);
}

}  // namespace Publish
