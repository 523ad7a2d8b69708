#include "publish/Curl.h"
#include "publish/Site.h"

#include <QCryptographicHash>
#include <QFile>

namespace Publish {
namespace {

struct Fetch {
    QCryptographicHash Hash{QCryptographicHash::Sha256};
    qint64 Size = 0;
    const std::atomic<bool>* Stop = nullptr;
};

size_t Take(char* data, size_t size, size_t count, void* fetch)
{
    auto* into = static_cast<Fetch*>(fetch);
    into->Hash.addData(QByteArrayView(data, qsizetype(size * count)));
    into->Size += qint64(size * count);
    return size * count;
}

int Interrupt(void* fetch, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<Fetch*>(fetch)->Stop->load() ? 1 : 0;
}

QByteArray LocalHash(const QString& file)
{
    QFile in(file);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!in.open(QIODevice::ReadOnly) || !hash.addData(&in))
        return {};
    return hash.result();
}

}  // namespace

QString CheckOnWeb(const QString& publicAddress, const QList<CheckFile>& files, const std::atomic<bool>& stop)
{
    QString base = publicAddress.trimmed();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    const CurlHandle handle = NewCurlHandle();
    CURL* h = handle.get();
    char errorText[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 30L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, 60L);
    // Compare what the server sends, not what a cache or a compressing proxy makes of it.
    const CurlList headers = MakeCurlList({"Cache-Control: no-cache", "Accept-Encoding: identity"});
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Take);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &Interrupt);
    for (const CheckFile& file : files) {
        const QByteArray url = base.toUtf8() + '/' + UrlPath(file.Path);
        Fetch fetch;
        fetch.Stop = &stop;
        errorText[0] = '\0';
        curl_easy_setopt(h, CURLOPT_URL, url.constData());
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &fetch);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, &fetch);
        const CURLcode code = curl_easy_perform(h);
        if (code == CURLE_ABORTED_BY_CALLBACK)
            throw Failure{{}, true};
        long status = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
        const QString address = QString::fromUtf8(url);
        if (code != CURLE_OK)
            return QStringLiteral("%1 could not be fetched from %2: %3").arg(file.Path, address,
                       errorText[0] ? QString::fromLocal8Bit(errorText) : QString::fromUtf8(curl_easy_strerror(code)));
        if (status != 200)
            return QStringLiteral("%1 is not on the web at %2 (the server answered %3). Is the public address right?").arg(file.Path, address).arg(status);
        if (fetch.Hash.result() != LocalHash(file.Local))
            return QStringLiteral("%1 at %2 differs from the file that was sent. Is the public address right, or does the server change files?").arg(file.Path, address);
    }
    return {};
}

}  // namespace Publish
