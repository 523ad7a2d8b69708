#include "support/Certificates.h"

#include "support/ServerProcess.h"

#include <QDir>

namespace TestSupport {

bool MakeCertificate(const QString& folder, const QString& name, const QString& altNames, bool expired,
                     Certificate* made, QString* error)
{
    const QDir dir(folder);
    made->File = dir.filePath(name + ".pem");
    made->Key = dir.filePath(name + ".key");
    const QStringList key{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", made->Key,
                          "-subj", "/CN=" + name, "-addext", "subjectAltName=" + altNames};
    if (!expired)
        return RunProgram("openssl", QStringList{"req", "-x509", "-days", "30", "-out", made->File} + key, error);
    // "req -x509" cannot date a certificate in the past; "ca" can, with a
    // minimal authority of its own.
    const QString ca = dir.filePath(name + "-ca");
    if (!QDir().mkpath(ca) || !WriteText(ca + "/index.txt", {}) || !WriteText(ca + "/serial", "01\n") ||
        !WriteText(ca + "/ca.cnf", QString("[ca]\ndefault_ca = c\n[c]\ndatabase = %1/index.txt\nnew_certs_dir = %1\n"
                                           "serial = %1/serial\ndefault_md = sha256\npolicy = p\ncopy_extensions = copy\n"
                                           "[p]\ncommonName = supplied\n").arg(ca).toUtf8())) {
        *error = "cannot write " + ca;
        return false;
    }
    return RunProgram("openssl", QStringList{"req", "-new", "-out", ca + "/request.pem"} + key, error) &&
           RunProgram("openssl", {"ca", "-batch", "-notext", "-config", ca + "/ca.cnf", "-selfsign", "-keyfile", made->Key,
                                  "-in", ca + "/request.pem", "-out", made->File, "-startdate", "20200101000000Z",
                                  "-enddate", "20200201000000Z"},
                      error);
}

QString FingerprintOf(const QString& certificateFile)
{
    QString error;
    QByteArray output;
    if (!RunProgram("openssl", {"x509", "-noout", "-fingerprint", "-sha256", "-in", certificateFile}, &error,
                    QProcessEnvironment::systemEnvironment(), &output))
        return {};
    // "sha256 Fingerprint=AB:CD:..."
    return "SHA256:" + QString::fromLatin1(output.trimmed()).section('=', 1);
}

}  // namespace TestSupport
