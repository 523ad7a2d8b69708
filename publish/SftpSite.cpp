#include "publish/Curl.h"
#include "publish/Site.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <pwd.h>
#include <unistd.h>

#include <cstdio>

namespace Publish {

CurlHandle NewCurlHandle()
{
    CurlHandle handle(curl_easy_init());
    if (!handle)
        throw Failure{QStringLiteral("The transfer library could not start (out of memory?).")};
    return handle;
}

CurlList MakeCurlList(const QList<QByteArray>& items)
{
    CurlList list;
    for (const QByteArray& item : items) {
        curl_slist* longer = curl_slist_append(list.get(), item.constData());
        if (!longer)
            throw Failure{QStringLiteral("Out of memory.")};
        (void)list.release();
        list.reset(longer);
    }
    return list;
}

namespace {

QString LocalUserName()
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

// A path in a quote command: double-quoted, so spaces and quotes survive.
QByteArray Quoted(const QString& path)
{
    QByteArray text = path.toUtf8();
    text.replace('\\', "\\\\").replace('"', "\\\"");
    return '"' + text + '"';
}

class SftpSite : public Site {
public:
    SftpSite(const Destination& destination, const Request& request, HostKeyQuestion ask, const std::atomic<bool>& stop)
        : Where(destination), Login(request.Login), KeyFile(request.KeyFile), Ask(std::move(ask)), Handle(NewCurlHandle()), Stop(&stop)
    {
        if (Where.User.isEmpty())
            Where.User = LocalUserName();
        const QString home = QDir::homePath();
        KnownHosts = home + QStringLiteral("/.ssh/known_hosts");
        // curl's paths: "/~/" is the home folder, anything else from the root.
        Root = Where.Folder.startsWith(QLatin1Char('~')) ? QLatin1Char('/') + Where.Folder : Where.Folder;
        if (!Root.startsWith(QLatin1Char('/')))
            Root = QStringLiteral("/~/") + Root;
        const QString host = Where.Host.contains(QLatin1Char(':')) ? QLatin1Char('[') + Where.Host + QLatin1Char(']') : Where.Host;
        Base = "sftp://" + QUrl::toPercentEncoding(host, "[]:") + ':' + QByteArray::number(Where.Port);

        CURL* h = Handle.get();
        Set(CURLOPT_PROTOCOLS_STR, "sftp");
        Set(CURLOPT_NOSIGNAL, 1L);
        Set(CURLOPT_ERRORBUFFER, ErrorText);
        Set(CURLOPT_USERNAME, Where.User.toUtf8().constData());
        Set(CURLOPT_CONNECTTIMEOUT, 30L);
        // A server that stops answering mid-way: no byte for a minute.
        Set(CURLOPT_LOW_SPEED_LIMIT, 1L);
        Set(CURLOPT_LOW_SPEED_TIME, 60L);
        Set(CURLOPT_FTP_CREATE_MISSING_DIRS, long(CURLFTP_CREATE_DIR));
        Set(CURLOPT_NEW_FILE_PERMS, 0644L);
        Set(CURLOPT_NEW_DIRECTORY_PERMS, 0755L);
        Set(CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024);
        Set(CURLOPT_SSH_KNOWNHOSTS, QFile::encodeName(KnownHosts).constData());
        curl_easy_setopt(h, CURLOPT_SSH_KEYFUNCTION, &SftpSite::KeyCallback);
        curl_easy_setopt(h, CURLOPT_SSH_KEYDATA, this);
        Set(CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &SftpSite::ProgressCallback);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
        switch (Login) {
        case LoginKind::KeyFile:
            Set(CURLOPT_SSH_AUTH_TYPES, long(CURLSSH_AUTH_PUBLICKEY));
            Set(CURLOPT_SSH_PRIVATE_KEYFILE, QFile::encodeName(KeyFile).constData());
            break;
        case LoginKind::Agent:
            Set(CURLOPT_SSH_AUTH_TYPES, long(CURLSSH_AUTH_AGENT));
            break;
        case LoginKind::Password:
            Set(CURLOPT_SSH_AUTH_TYPES, long(CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD));
            // Handed to libcurl only, which keeps its own copy; never part of a URL.
            Set(CURLOPT_PASSWORD, request.Password.toUtf8().constData());
            break;
        }
        if (Login == LoginKind::KeyFile && !QFileInfo(KeyFile).isReadable())
            throw Failure{QStringLiteral("The key file %1 cannot be read; nothing was sent.").arg(KeyFile), false, true};
        if (Login == LoginKind::Agent && qEnvironmentVariableIsEmpty("SSH_AUTH_SOCK"))
            throw Failure{QStringLiteral("No SSH agent is running here (SSH_AUTH_SOCK is not set). Please start one and add your key, or log in with a key file. Nothing was sent."), false, true};
    }

    QList<RemoteEntry> List(const QString& folder) override
    {
        QByteArray listing;
        Prepare(Url(folder) + '/');
        Set(CURLOPT_WRITEFUNCTION, &SftpSite::Collect);
        curl_easy_setopt(Handle.get(), CURLOPT_WRITEDATA, &listing);
        const CURLcode code = curl_easy_perform(Handle.get());
        if (code == CURLE_REMOTE_FILE_NOT_FOUND)
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
        Set(CURLOPT_INFILESIZE_LARGE, curl_off_t(QFileInfo(localFile).size()));
        // libcurl's own reader is fread on the FILE it is given.
        curl_easy_setopt(Handle.get(), CURLOPT_READFUNCTION, nullptr);
        curl_easy_setopt(Handle.get(), CURLOPT_READDATA, in.get());
        // libcurl tells a refused write (a full disk) from a lost connection
        // only in its notes: the file cannot be closed when the server is gone.
        CloseFailed = false;
        Set(CURLOPT_VERBOSE, 1L);
        curl_easy_setopt(Handle.get(), CURLOPT_DEBUGFUNCTION, &SftpSite::Note);
        curl_easy_setopt(Handle.get(), CURLOPT_DEBUGDATA, this);
        const CURLcode code = curl_easy_perform(Handle.get());
        Set(CURLOPT_VERBOSE, 0L);
        Report = nullptr;
        Check(code, path, true);
    }

    void Rename(const QString& from, const QString& to) override
    {
        Quote({"rename " + Quoted(Remote(from)) + ' ' + Quoted(Remote(to))}, to);
    }

    bool RenameReplaces() const override { return false; }

    void Remove(const QString& path) noexcept override
    {
        // Cleaning up after a cancel or a broken connection: not to be cancelled
        // itself, and quick to give up on a server that is gone.
        Cleaning = true;
        try {
            Set(CURLOPT_CONNECTTIMEOUT, 10L);
            Quote({"rm " + Quoted(Remote(path))}, path);
        } catch (...) {
        }
        Set(CURLOPT_CONNECTTIMEOUT, 30L);
        Cleaning = false;
    }

    QString Address(const QString& path) const override
    {
        return QString::fromUtf8("sftp://" + QUrl::toPercentEncoding(Where.User) + '@' + Base.mid(7) + UrlPath(Remote(path)));
    }

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

    QString Remote(const QString& path) const { return path.isEmpty() ? Root : Root + QLatin1Char('/') + path; }
    QByteArray Url(const QString& path) const { return Base + UrlPath(Remote(path)); }

    void Prepare(const QByteArray& url)
    {
        Set(CURLOPT_URL, url.constData());
        Set(CURLOPT_UPLOAD, 0L);
        Set(CURLOPT_NOBODY, 0L);
        Set(CURLOPT_QUOTE, static_cast<curl_slist*>(nullptr));
        Set(CURLOPT_INFILESIZE_LARGE, curl_off_t(-1));
        curl_easy_setopt(Handle.get(), CURLOPT_WRITEFUNCTION, &SftpSite::Discard);
        ErrorText[0] = '\0';
    }

    void Quote(const QList<QByteArray>& commands, const QString& about)
    {
        const CurlList list = MakeCurlList(commands);
        Prepare(Url({}) + '/');
        Set(CURLOPT_NOBODY, 1L);
        Set(CURLOPT_QUOTE, list.get());
        const CURLcode code = curl_easy_perform(Handle.get());
        Set(CURLOPT_QUOTE, static_cast<curl_slist*>(nullptr));
        Check(code, about);
    }

    static size_t Collect(char* data, size_t size, size_t count, void* listing)
    {
        static_cast<QByteArray*>(listing)->append(data, qsizetype(size * count));
        return size * count;
    }
    static int Note(CURL*, curl_infotype type, char* data, size_t size, void* self)
    {
        static const QByteArrayView closeFailed("Failed to close");
        if (type == CURLINFO_TEXT && QByteArrayView(data, qsizetype(size)).startsWith(closeFailed))
            static_cast<SftpSite*>(self)->CloseFailed = true;
        return 0;
    }
    static size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

    static int ProgressCallback(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t sent)
    {
        auto* site = static_cast<SftpSite*>(self);
        if (site->Cleaning)
            return 0;
        if (site->Stop && site->Stop->load())
            return 1;
        if (site->Report && !(*site->Report)(qint64(sent)))
            return 1;
        return 0;
    }

    static int KeyCallback(CURL*, const curl_khkey*, const curl_khkey* found, curl_khmatch match, void* self)
    {
        auto* site = static_cast<SftpSite*>(self);
        const QByteArray key = found->len > 0 ? QByteArray(found->key, qsizetype(found->len))
                                              : QByteArray::fromBase64(QByteArray(found->key));
        site->Fingerprint = Sha256Fingerprint(key);
        if (match == CURLKHMATCH_OK || site->Fingerprint == site->TrustedThisRun)
            return CURLKHSTAT_FINE;
        if (match == CURLKHMATCH_MISMATCH) {
            site->KeyChanged = true;
            return CURLKHSTAT_REJECT;
        }
        if (!site->Ask || !site->Ask(site->Where.Host, site->Fingerprint)) {
            site->KeyDeclined = true;
            return CURLKHSTAT_REJECT;
        }
        site->TrustedThisRun = site->Fingerprint;
        site->Remember(key);
        return CURLKHSTAT_FINE;
    }

    // Adds the trusted key as one line at the end of known_hosts, leaving the
    // lines already there as they are.
    void Remember(const QByteArray& key)
    {
        const QString type = KeyTypeName(key);
        if (type.isEmpty())
            return;
        QDir().mkpath(QFileInfo(KnownHosts).path());
        QFile::setPermissions(QFileInfo(KnownHosts).path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QFile file(KnownHosts);
        if (!file.open(QIODevice::Append))
            return;  // trusted for this publish; asked again next time
        if (file.size() == 0)
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        file.write((KnownHostsName(Where.Host, Where.Port) + QLatin1Char(' ') + type + QLatin1Char(' ')).toUtf8() +
                   key.toBase64() + '\n');
    }

    void Check(CURLcode code, const QString& about, bool upload = false)
    {
        if (code == CURLE_OK)
            return;
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
            failure.Message = QStringLiteral("%1 refused the connection on port %2 (or cannot be reached). Is its SSH server running? Nothing was sent.").arg(host).arg(Where.Port);
            failure.NothingSent = true;
            break;
        case CURLE_OPERATION_TIMEDOUT:
            failure.Message = QStringLiteral("%1 did not answer in time. Please try again later.").arg(host);
            break;
        case CURLE_PEER_FAILED_VERIFICATION:
            failure.NothingSent = true;
            if (KeyChanged)
                failure.Message = QStringLiteral("The host key of %1 has changed since it was trusted (it is now %2). Someone may be "
                                                 "listening in, or the server was set up anew. Nothing was sent. If the change is "
                                                 "expected, remove the old key with: ssh-keygen -R \"%3\"")
                                      .arg(host, Fingerprint, KnownHostsName(host, Where.Port));
            else if (KeyDeclined)
                failure.Message = QStringLiteral("The host key of %1 is not known (%2) and was not trusted. Nothing was sent.").arg(host, Fingerprint);
            else
                failure.Message = QStringLiteral("The host key of %1 could not be checked. Nothing was sent.").arg(host);
            break;
        case CURLE_LOGIN_DENIED:
            failure.NothingSent = true;
            if (Login == LoginKind::KeyFile)
                failure.Message = QStringLiteral("%1 did not accept the key %2 for the user %3; nothing was sent.").arg(host, KeyFile, Where.User);
            else if (Login == LoginKind::Agent)
                failure.Message = QStringLiteral("%1 did not accept any key of the SSH agent for the user %2; nothing was sent.").arg(host, Where.User);
            else
                failure.Message = QStringLiteral("%1 did not accept the password for the user %2; nothing was sent.").arg(host, Where.User);
            break;
        case CURLE_REMOTE_ACCESS_DENIED:
        case CURLE_QUOTE_ERROR:
            if (text.contains(QLatin1String("ermission")) || code == CURLE_REMOTE_ACCESS_DENIED)
                failure.Message = QStringLiteral("The folder %1 on %2 is not writable for the user %3.")
                                      .arg(QFileInfo(Remote(about)).path(), host, Where.User);
            else
                failure.Message = QStringLiteral("%1 could not put %2 in place: %3").arg(host, about, text);
            break;
        case CURLE_REMOTE_DISK_FULL:
            failure.Message = QStringLiteral("There is no room left on %1 for %2.").arg(host, Shown(about));
            break;
        case CURLE_UPLOAD_FAILED:
        case CURLE_WRITE_ERROR:
            failure.Message = QStringLiteral("%1 could not store %2: there is no room left on the server, or the file is larger than it allows.").arg(host, Shown(about));
            break;
        case CURLE_SSH:
            if (upload && !CloseFailed) {
                failure.Message = QStringLiteral("%1 could not store %2: there is no room left on the server, or the file is larger than it allows.").arg(host, Shown(about));
                break;
            }
            [[fallthrough]];
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
    LoginKind Login;
    QString KeyFile;
    HostKeyQuestion Ask;
    CurlHandle Handle;
    const std::atomic<bool>* Stop;
    QString KnownHosts, Root, Fingerprint, TrustedThisRun;
    QByteArray Base;
    char ErrorText[CURL_ERROR_SIZE] = {};
    const ByteReport* Report = nullptr;
    bool KeyChanged = false, KeyDeclined = false, Cleaning = false, CloseFailed = false;
};

}  // namespace

std::unique_ptr<Site> MakeSftpSite(const Destination& destination, const Request& request, HostKeyQuestion ask,
                                   const std::atomic<bool>& stop)
{
    return std::make_unique<SftpSite>(destination, request, std::move(ask), stop);
}

}  // namespace Publish
