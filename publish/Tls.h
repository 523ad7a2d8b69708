#pragma once
// TLS trust for the FTPS and WebDAV sites. A certificate the system's store
// and the host name accept passes; any other only if it is the one pinned
// for the site or the user trusts it when asked, and then every later
// connection of the publish must show that same certificate. Nothing is
// sent on a connection before its certificate has passed.

#include "publish/Publisher.h"

#include <curl/curl.h>

#include <QList>
#include <QString>
#include <QStringList>

struct x509_store_ctx_st;  // OpenSSL's X509_STORE_CTX, kept out of this header

namespace Publish {

class TlsTrust {
public:
    // `pinned`: Request::PinnedCertificate; `ask` may be empty (refuse).
    TlsTrust(QString host, QString pinned, CertificateQuestion ask);
    TlsTrust(const TlsTrust&) = delete;
    TlsTrust& operator=(const TlsTrust&) = delete;

    // Sets the TLS options on a handle; the handle must not outlive this.
    // Throws Failure when the transfer library cannot check certificates.
    void Apply(CURL* handle);

    // After a transfer on an applied handle ended with `code`: true when its
    // certificate was refused and is now trusted (pinned earlier, or the user
    // said yes), so the transfer is to be tried again; false when the
    // certificate was not the matter. Throws Failure when it stays refused.
    bool Retry(CURLcode code);

private:
    static CURLcode PrepareContext(CURL* handle, void* sslContext, void* self);
    static int VerifyCertificate(::x509_store_ctx_st* store, void* self);
    int Verify(::x509_store_ctx_st* store);
    void SetVerification(CURL* handle) const;

    QString Host;
    QString Pinned;          // the pinned or just-trusted fingerprint
    bool UsePin = false;     // every connection must show `Pinned`
    CertificateQuestion Ask;
    QList<CURL*> Handles;
    // What the last refused handshake saw.
    bool Refused = false, Differs = false;
    QString Seen;            // its fingerprint
    QStringList Reasons;     // "the certificate has expired", ...
};

}  // namespace Publish
