// Certificates the tests make with openssl: self-signed, for the names they
// are given, valid now or long expired.
#pragma once

#include <QString>

namespace TestSupport {

struct Certificate {
    QString File;  // PEM
    QString Key;   // PEM, unencrypted
};

// Makes "<name>.pem" and "<name>.key" in folder. altNames as openssl writes
// them ("IP:127.0.0.1,DNS:localhost"); expired: valid only in January 2020.
bool MakeCertificate(const QString& folder, const QString& name, const QString& altNames, bool expired,
                     Certificate* made, QString* error);

// "SHA256:AB:CD:..." of a PEM certificate, as openssl reckons it.
QString FingerprintOf(const QString& certificateFile);

}  // namespace TestSupport
