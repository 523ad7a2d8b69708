#include "publish/Tls.h"

#include "publish/Plan.h"
#include "publish/Site.h"

#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>

#include <memory>

namespace Publish {

namespace {

QByteArray DerOf(X509* certificate)
{
    unsigned char* bytes = nullptr;
    const int length = i2d_X509(certificate, &bytes);
    if (length <= 0)
        return {};
    QByteArray der(reinterpret_cast<const char*>(bytes), length);
    OPENSSL_free(bytes);
    return der;
}

// The names a certificate is for: its DNS and IP alternative names, or else
// its common name.
QStringList NamesOf(X509* certificate)
{
    QStringList names;
    using Names = std::unique_ptr<GENERAL_NAMES, void (*)(GENERAL_NAMES*)>;
    const Names alternatives(static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr)),
                             [](GENERAL_NAMES* list) { GENERAL_NAMES_free(list); });
    for (int i = 0; alternatives && i < sk_GENERAL_NAME_num(alternatives.get()); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(alternatives.get(), i);
        if (name->type == GEN_DNS) {
            const ASN1_STRING* text = name->d.dNSName;
            names << QString::fromLatin1(reinterpret_cast<const char*>(ASN1_STRING_get0_data(text)), ASN1_STRING_length(text));
        } else if (name->type == GEN_IPADD) {
            const ASN1_STRING* bytes = name->d.iPAddress;
            const int length = ASN1_STRING_length(bytes);
            char text[INET6_ADDRSTRLEN] = {};
            if ((length == 4 || length == 16) &&
                inet_ntop(length == 4 ? AF_INET : AF_INET6, ASN1_STRING_get0_data(bytes), text, sizeof text))
                names << QString::fromLatin1(text);
        }
    }
    if (names.isEmpty()) {
        char common[256] = {};
        if (X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), NID_commonName, common, sizeof common) > 0)
            names << QString::fromUtf8(common);
    }
    return names;
}

bool IsFor(X509* certificate, const QString& host)
{
    const QByteArray name = host.toUtf8();
    unsigned char address[16];
    if (inet_pton(AF_INET, name.constData(), address) == 1 || inet_pton(AF_INET6, name.constData(), address) == 1)
        return X509_check_ip_asc(certificate, name.constData(), 0) == 1;
    return X509_check_host(certificate, name.constData(), size_t(name.size()), 0, nullptr) == 1;
}

// Every error of the chain, not only the first: a self-signed certificate
// may also have expired.
int NoteError(int ok, X509_STORE_CTX* store)
{
    if (!ok) {
        auto* errors = static_cast<QList<int>*>(X509_STORE_CTX_get_app_data(store));
        if (errors)
            errors->append(X509_STORE_CTX_get_error(store));
    }
    return 1;
}

}  // namespace

TlsTrust::TlsTrust(QString host, QString pinned, CertificateQuestion ask)
    : Host(std::move(host)), Pinned(std::move(pinned)), Ask(std::move(ask))
{
}

void TlsTrust::Apply(CURL* handle)
{
    // The certificate is checked inside the handshake, before a byte of the
    // login goes out; that needs libcurl built with OpenSSL, as Debian's is.
    if (curl_easy_setopt(handle, CURLOPT_SSL_CTX_FUNCTION, &TlsTrust::PrepareContext) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_SSL_CTX_DATA, this) != CURLE_OK)
        throw Failure{QStringLiteral("This build of the transfer library cannot check TLS certificates.")};
    Handles.append(handle);
    SetVerification(handle);
}

void TlsTrust::SetVerification(CURL* handle) const
{
    // A pinned certificate is checked by its fingerprint alone (below), as
    // the user trusted it knowing the system does not.
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, UsePin ? 0L : 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, UsePin ? 0L : 2L);
}

CURLcode TlsTrust::PrepareContext(CURL*, void* sslContext, void* self)
{
    auto* context = static_cast<SSL_CTX*>(sslContext);
    SSL_CTX_set_cert_verify_callback(context, &TlsTrust::VerifyCertificate, self);
    // libcurl asks OpenSSL not to verify when VERIFYPEER is off; a refusal
    // below must still end the handshake.
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    return CURLE_OK;
}

int TlsTrust::VerifyCertificate(X509_STORE_CTX* store, void* self)
{
    return static_cast<TlsTrust*>(self)->Verify(store);
}

int TlsTrust::Verify(X509_STORE_CTX* store)
{
    X509* certificate = X509_STORE_CTX_get0_cert(store);
    if (!certificate)
        return 0;
    Seen = CertificateFingerprint(DerOf(certificate));
    Reasons.clear();
    if (UsePin) {
        if (Seen == Pinned)
            return 1;
        Differs = Refused = true;
        X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
        return 0;
    }
    QList<int> errors;
    X509_STORE_CTX_set_app_data(store, &errors);
    X509_STORE_CTX_set_verify_cb(store, &NoteError);
    const int verified = X509_verify_cert(store);
    X509_STORE_CTX_set_app_data(store, nullptr);
    bool expired = false, unknownIssuer = false;
    for (const int error : errors) {
        switch (error) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
            expired = true;
            break;
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_CERT_UNTRUSTED:
            unknownIssuer = true;
            break;
        default:
            Reasons << QStringLiteral("the certificate could not be verified (%1)")
                           .arg(QString::fromUtf8(X509_verify_cert_error_string(error)));
            break;
        }
    }
    if (!IsFor(certificate, Host))
        Reasons.prepend(QStringLiteral("the certificate is for another name (%1)").arg(NamesOf(certificate).join(QStringLiteral(", "))));
    if (expired)
        Reasons << QStringLiteral("the certificate has expired");
    if (unknownIssuer)
        Reasons << QStringLiteral("the certificate's issuer is unknown");
    if (verified == 1 && Reasons.isEmpty())
        return 1;
    if (Reasons.isEmpty())
        Reasons << QStringLiteral("the certificate could not be verified");
    Refused = true;
    X509_STORE_CTX_set_error(store, errors.isEmpty() ? X509_V_ERR_APPLICATION_VERIFICATION : errors.first());
    return 0;
}

bool TlsTrust::Retry(CURLcode code)
{
    if (code == CURLE_OK || !Refused)
        return false;
    Refused = false;
    const bool differs = Differs || (!UsePin && !Pinned.isEmpty() && Seen != Pinned);
    Differs = false;
    Failure failure;
    if (differs) {
        failure.Message = QStringLiteral("The certificate of %1 was refused: the certificate differs from the one trusted for this "
                                         "site (it is now %2). Someone may be listening in, or the server has a new certificate.")
                              .arg(Host, Seen);
        throw failure;
    }
    if (UsePin)  // refused for another reason than its fingerprint: not expected
        return false;
    const QString reason = Reasons.join(QStringLiteral(", and "));
    if (Seen == Pinned || (Ask && Ask(Host, Seen, reason))) {
        Pinned = Seen;
        UsePin = true;
        for (CURL* handle : Handles)
            SetVerification(handle);
        return true;
    }
    failure.Message = QStringLiteral("The certificate of %1 was refused: %2. Its fingerprint is %3.").arg(Host, reason, Seen);
    throw failure;
}

}  // namespace Publish
