#include "publish/CurlSite.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QUrl>

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

namespace Publish {

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

CurlSite::CurlSite(const Destination& destination, const char* scheme, QString server, const std::atomic<bool>& stop)
    : Where(destination), Server(std::move(server)), Stop(&stop), Handle(NewCurlHandle())
{
    const QString host = Where.Host.contains(QLatin1Char(':')) ? QLatin1Char('[') + Where.Host + QLatin1Char(']') : Where.Host;
    Authority = QUrl::toPercentEncoding(host, "[]:") + ':' + QByteArray::number(Where.Port);
    Base = scheme + QByteArray("://") + Authority;

    Set(CURLOPT_PROTOCOLS_STR, scheme);
    Set(CURLOPT_NOSIGNAL, 1L);
    Set(CURLOPT_ERRORBUFFER, ErrorText);
    Set(CURLOPT_CONNECTTIMEOUT, 30L);
    // A server that stops answering mid-way: no byte for a minute.
    Set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    Set(CURLOPT_LOW_SPEED_TIME, 60L);
    Set(CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024);
    Set(CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(Handle.get(), CURLOPT_XFERINFOFUNCTION, &CurlSite::Progress);
    curl_easy_setopt(Handle.get(), CURLOPT_XFERINFODATA, this);
}

void CurlSite::TrustCertificates(const Request& request, CertificateQuestion ask)
{
    Trust.emplace(Where.Host, request.PinnedCertificate, std::move(ask));
    Trust->Apply(Handle.get());
}

void CurlSite::Prepare(const QByteArray& url)
{
    Set(CURLOPT_URL, url.constData());
    Set(CURLOPT_UPLOAD, 0L);
    Set(CURLOPT_NOBODY, 0L);
    Set(CURLOPT_QUOTE, static_cast<curl_slist*>(nullptr));
    Set(CURLOPT_INFILESIZE_LARGE, curl_off_t(-1));
    curl_easy_setopt(Handle.get(), CURLOPT_WRITEFUNCTION, &CurlSite::Discard);
    ErrorText[0] = '\0';
}

CURLcode CurlSite::Perform(FILE* in)
{
    CURLcode code = curl_easy_perform(Handle.get());
    // Nothing goes out on a connection whose certificate was refused.
    if (Trust && Trust->Retry(code)) {
        if (in)
            std::rewind(in);
        code = curl_easy_perform(Handle.get());
    }
    return code;
}

CURLcode CurlSite::Upload(const QString& localFile, const ByteReport& report)
{
    std::unique_ptr<FILE, int (*)(FILE*)> in(std::fopen(QFile::encodeName(localFile).constData(), "rbe"), &std::fclose);
    if (!in)
        throw Failure{QStringLiteral("%1 could not be read.").arg(localFile)};
    Report = &report;
    const auto forget = qScopeGuard([this] { Report = nullptr; });
    Set(CURLOPT_UPLOAD, 1L);
    Set(CURLOPT_INFILESIZE_LARGE, curl_off_t(QFileInfo(localFile).size()));
    // libcurl's own reader is fread on the FILE it is given.
    curl_easy_setopt(Handle.get(), CURLOPT_READFUNCTION, nullptr);
    curl_easy_setopt(Handle.get(), CURLOPT_READDATA, in.get());
    return Perform(in.get());
}

CURLcode CurlSite::Quote(const QByteArray& url, const QList<QByteArray>& commands)
{
    const CurlList list = MakeCurlList(commands);
    Prepare(url);
    Set(CURLOPT_NOBODY, 1L);
    Set(CURLOPT_QUOTE, list.get());
    const CURLcode code = Perform();
    Set(CURLOPT_QUOTE, static_cast<curl_slist*>(nullptr));
    return code;
}

void CurlSite::Remove(const QString& path) noexcept
{
    // Cleaning up after a cancel or a broken connection: not to be cancelled
    // itself, and quick to give up on a server that is gone.
    Cleaning = true;
    try {
        Set(CURLOPT_CONNECTTIMEOUT, 10L);
        Delete(path);
    } catch (...) {
    }
    Set(CURLOPT_CONNECTTIMEOUT, 30L);
    Cleaning = false;
}

void CurlSite::Fail(CURLcode code, const QString& about, bool upload) const
{
    const QString host = Where.Host;
    Failure failure;
    switch (code) {
    case CURLE_ABORTED_BY_CALLBACK:
        throw Failure{{}, true};
    case CURLE_COULDNT_RESOLVE_HOST:
        failure.Message = QStringLiteral("The host \"%1\" was not found. Please check its name.").arg(host);
        break;
    case CURLE_COULDNT_CONNECT:
        failure.Message = QStringLiteral("%1 refused the connection on port %2 (or cannot be reached). Is its %3 server running?")
                              .arg(host).arg(Where.Port).arg(Server);
        break;
    case CURLE_OPERATION_TIMEDOUT:
        failure.Message = QStringLiteral("%1 did not answer in time. Please try again later.").arg(host);
        break;
    case CURLE_REMOTE_DISK_FULL:
        failure.Message = NoRoom(about);
        break;
    default:
        if (upload) {
            failure.Message = QStringLiteral("The connection to %1 broke off while sending %2.").arg(host, ShownPath(about));
        } else {
            const QString text = QString::fromLocal8Bit(ErrorText);
            failure.Message = QStringLiteral("Talking to %1 failed: %2").arg(host, text.isEmpty() ? QString::fromUtf8(curl_easy_strerror(code)) : text);
        }
        break;
    }
    throw failure;
}

QString CurlSite::PasswordRefused() const
{
    return QStringLiteral("%1 did not accept the password for the user %2.").arg(Where.Host, Where.User);
}

QString CurlSite::NoRoom(const QString& about) const
{
    return QStringLiteral("There is no room left on %1 for %2.").arg(Where.Host, ShownPath(about));
}

size_t CurlSite::Collect(char* data, size_t size, size_t count, void* into)
{
    auto* text = static_cast<QByteArray*>(into);
    // A listing of a few files is small; a server that sends without end is not one.
    if (text->size() > (16 << 20))
        return 0;
    text->append(data, qsizetype(size * count));
    return size * count;
}

size_t CurlSite::Discard(char*, size_t size, size_t count, void*)
{
    return size * count;
}

int CurlSite::Progress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t sent)
{
    auto* site = static_cast<CurlSite*>(self);
    if (site->Cleaning)
        return 0;
    if (site->Stop->load())
        return 1;
    if (site->Report && !(*site->Report)(qint64(sent)))
        return 1;
    return 0;
}

}  // namespace Publish
