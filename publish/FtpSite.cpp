#include "publish/CurlSite.h"

#include <QScopeGuard>
#include <QUrl>

namespace Publish {

namespace {

// A folder on an FTP server; with ftps:// every command and every byte goes
// over TLS (explicit, after AUTH TLS), the login included.
class FtpSite : public CurlSite {
public:
    FtpSite(const Destination& destination, const Request& request, CertificateQuestion ask, const std::atomic<bool>& stop)
        : CurlSite(destination, "ftp", QStringLiteral("FTP"), stop)
    {
        if (Where.User.isEmpty())
            Where.User = LocalUserName();
        if (request.Password.isEmpty())
            throw Failure{QStringLiteral("Please give the password for the user %1 on %2.").arg(Where.User, Where.Host)};

        Set(CURLOPT_USERNAME, Where.User.toUtf8().constData());
        // Handed to libcurl only, which keeps its own copy; never part of a URL.
        Set(CURLOPT_PASSWORD, request.Password.toUtf8().constData());
        Set(CURLOPT_FTP_RESPONSE_TIMEOUT, 60L);
        Set(CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_MULTICWD));
        if (Where.Kind == Destination::Protocol::Ftps) {
            Set(CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
            Set(CURLOPT_FTPSSLAUTH, long(CURLFTPAUTH_TLS));
            TrustCertificates(request, std::move(ask));
        }
        // The server's replies only (never the commands, the password among
        // them): the words of a server that ends the session.
        Set(CURLOPT_VERBOSE, 1L);
        curl_easy_setopt(Easy(), CURLOPT_DEBUGFUNCTION, &FtpSite::NoteReply);
        curl_easy_setopt(Easy(), CURLOPT_DEBUGDATA, this);
    }

    QList<RemoteEntry> List(const QString& folder) override
    {
        QByteArray listing;
        const auto list = [&](const char* command) {
            listing.clear();
            Prepare(Url(folder) + '/');
            Set(CURLOPT_CUSTOMREQUEST, command);
            Set(CURLOPT_WRITEFUNCTION, &FtpSite::Collect);
            Set(CURLOPT_WRITEDATA, &listing);
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
        Prepare(Url(path));
        Set(CURLOPT_FTP_CREATE_MISSING_DIRS, long(CURLFTP_CREATE_DIR));
        const auto flat = qScopeGuard([this] { Set(CURLOPT_FTP_CREATE_MISSING_DIRS, long(CURLFTP_CREATE_DIR_NONE)); });
        Check(Upload(localFile, report), path, true);
    }

    void Rename(const QString& from, const QString& to) override
    {
        Check(Quote({"RNFR " + Remote(from), "RNTO " + Remote(to)}), to);
    }

    // Most servers replace the file renamed onto (a plain rename()); the
    // publisher sets the old file aside for one that refuses.
    bool RenameReplaces() const override { return true; }

    QString Address(const QString& path) const override
    {
        // As the destination is written, so that it can be given again.
        const QByteArray scheme = Where.Kind == Destination::Protocol::Ftps ? "ftps://" : "ftp://";
        QString folder = Where.Folder.startsWith(QLatin1Char('~')) ? QLatin1Char('/') + Where.Folder : Where.Folder;
        if (!folder.endsWith(QLatin1Char('/')))
            folder += QLatin1Char('/');
        return QString::fromUtf8(scheme + QUrl::toPercentEncoding(Where.User) + '@' + Authority + UrlPath(folder + path));
    }

private:
    void Delete(const QString& path) override { (void)Quote({"DELE " + Remote(path)}); }

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
            if (curl_easy_getinfo(Easy(), CURLINFO_FTP_ENTRY_PATH, &entry) == CURLE_OK && entry)
                Entry = QString::fromUtf8(entry);
        }
        if (Entry.isEmpty())
            throw Failure{QStringLiteral("%1 did not say which folder the login starts in.").arg(Where.Host)};
        return (Entry.endsWith(QLatin1Char('/')) ? Entry + relative : Entry + QLatin1Char('/') + relative).toUtf8();
    }

    CURLcode Quote(const QList<QByteArray>& commands)
    {
        const CURLcode code = CurlSite::Quote(Base + '/', commands);
        if (code == CURLE_ABORTED_BY_CALLBACK)
            throw Failure{{}, true};
        return code;
    }

    static int NoteReply(CURL*, curl_infotype type, char* data, size_t size, void* self)
    {
        if (type != CURLINFO_HEADER_IN)
            return 0;
        auto* site = static_cast<FtpSite*>(self);
        // "421-first line", "421 last line": a new reply after a last line.
        if (site->ReplyDone)
            site->Reply.clear();
        const QByteArray line = QByteArray(data, qsizetype(size)).trimmed();
        site->ReplyDone = line.size() < 4 || line[3] != '-';
        site->Reply += (site->Reply.isEmpty() ? QByteArray() : QByteArray(" ")) + (line.size() > 4 ? line.mid(4) : line);
        site->ReplyCode = line.left(3).toInt();
        return 0;
    }

    void Check(CURLcode code, const QString& about, bool upload = false)
    {
        if (code == CURLE_OK)
            return;
        const QString host = Where.Host;
        const QString text = QString::fromLocal8Bit(ErrorText);
        long reply = 0;
        curl_easy_getinfo(Easy(), CURLINFO_RESPONSE_CODE, &reply);
        switch (code) {
        case CURLE_OPERATION_TIMEDOUT:
            if (ReplyCode == 421)  // libcurl counts a closing server as a timeout
                throw Failure{QStringLiteral("%1 ended the session: \"%2\"").arg(host, QString::fromUtf8(Reply.left(300)))};
            break;
        case CURLE_USE_SSL_FAILED:
            throw Failure{QStringLiteral("%1 does not offer FTP over TLS (AUTH TLS). If the site has no other way, "
                                         "use ftp:// knowing that the password crosses the network readable.").arg(host)};
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
            throw Failure{QStringLiteral("The secure connection to %1 failed: %2").arg(host, text)};
        case CURLE_LOGIN_DENIED:
            throw Failure{PasswordRefused()};
        case CURLE_REMOTE_ACCESS_DENIED:
            throw Failure{QStringLiteral("The folder %1 on %2 cannot be made or is not writable for the user %3.").arg(Where.Folder, host, Where.User)};
        case CURLE_QUOTE_ERROR:
            throw Failure{QStringLiteral("%1 could not put %2 in place: %3").arg(host, ShownPath(about), text)};
        case CURLE_UPLOAD_FAILED:
            // The server's reply to STOR: 452/552 no room, 553/550 not allowed.
            if (reply == 452 || reply == 552)
                throw Failure{NoRoom(about)};
            if (reply == 550 || reply == 553)
                throw Failure{QStringLiteral("The folder %1 on %2 is not writable for the user %3.").arg(Where.Folder, host, Where.User)};
            throw Failure{QStringLiteral("%1 could not store %2 (%3).").arg(host, ShownPath(about), text)};
        default:
            break;
        }
        Fail(code, about, upload);
    }

    QString Entry;  // the folder the login starts in, as the server names it
    bool ReplyDone = true;
    QByteArray Reply;  // the server's last reply, its lines joined
    int ReplyCode = 0;
};
}  // namespace

std::unique_ptr<Site> MakeFtpSite(const Destination& destination, const Request& request, CertificateQuestion ask,
                                  const std::atomic<bool>& stop)
{
    return std::make_unique<FtpSite>(destination, request, std::move(ask), stop);
}

}  // namespace Publish
