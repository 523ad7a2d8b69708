#pragma once
// What the SFTP, FTP(S) and WebDAV sites share: one libcurl handle set up
// alike, the progress callback that cancels, the clean-up that must not be
// cancelled itself, and the failures that read the same for every protocol.
// Each site keeps its own requests and its own words for what only it meets.

#include "publish/Curl.h"
#include "publish/Site.h"
#include "publish/Tls.h"

#include <QString>

#include <atomic>
#include <optional>

namespace Publish {

// The local user's login name: a destination without a user means this one.
QString LocalUserName();

class CurlSite : public Site {
public:
    void Remove(const QString& path) noexcept final;

protected:
    // `scheme`: the protocol libcurl may speak ("sftp", "ftp", "http",
    // "https"); `server`: what should be listening on the port, as the user
    // is told when nothing is ("SSH", "FTP", "web").
    CurlSite(const Destination& destination, const char* scheme, QString server, const std::atomic<bool>& stop);

    template <typename Value>
    void Set(CURLoption option, Value value) { curl_easy_setopt(Handle.get(), option, value); }

    // Checks TLS certificates on every connection from now on (Tls.h).
    void TrustCertificates(const Request& request, CertificateQuestion ask);

    // A new request on the handle, with nothing left from the one before.
    void Prepare(const QByteArray& url);
    // Runs the prepared request; once more when its certificate was refused
    // and the user (or a pin) has since trusted it, the file an upload reads
    // (`in`) from its start again.
    CURLcode Perform(FILE* in = nullptr);
    // Runs the prepared request as an upload of `localFile`, telling
    // `report` the bytes sent.
    CURLcode Upload(const QString& localFile, const ByteReport& report);
    // Runs `commands` (QUOTE) on `url` without a transfer.
    CURLcode Quote(const QByteArray& url, const QList<QByteArray>& commands);
    // What Remove() does, on a prepared handle; may throw.
    virtual void Delete(const QString& path) = 0;

    // The failures every site words alike.
    [[noreturn]] void Fail(CURLcode code, const QString& about, bool upload) const;
    QString PasswordRefused() const;
    QString NoRoom(const QString& about) const;

    CURL* Easy() const { return Handle.get(); }

    // Write callbacks: into the QByteArray of WRITEDATA, or nowhere.
    static size_t Collect(char* data, size_t size, size_t count, void* into);
    static size_t Discard(char*, size_t size, size_t count, void*);

    Destination Where;
    QByteArray Authority;  // "host:port", a bracketed IPv6 address percent-encoded
    QByteArray Base;       // "scheme://host:port"
    char ErrorText[CURL_ERROR_SIZE] = {};

private:
    static int Progress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t sent);

    QString Server;
    const std::atomic<bool>* Stop;
    std::optional<TlsTrust> Trust;  // before the handle, which must not outlive it
    CurlHandle Handle;
    const ByteReport* Report = nullptr;
    bool Cleaning = false;
};

}  // namespace Publish
