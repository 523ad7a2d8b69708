#include "support/DavServer.h"

#include "support/ServerProcess.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <signal.h>

namespace TestSupport {

DavServer::DavServer(const QString& folder) : root(QDir(folder).absolutePath()) {}

DavServer::~DavServer() = default;

QString DavServer::path(const QString& relative) const
{
    return root + "/" + relative;
}

QString DavServer::SiteFolder() const
{
    return path("site");
}

QString DavServer::CertificateFile() const
{
    return path("web/certificate.pem");
}

QString DavServer::Destination(bool https, const QString& sub) const
{
    return QString("%1://%2@127.0.0.1:%3/%4/")
        .arg(https ? "https" : "http", User())
        .arg(https ? httpsPort : httpPort)
        .arg(sub);
}

QString DavServer::WebAddress(const QString& sub) const
{
    return QString("http://127.0.0.1:%1/%2").arg(webPort).arg(sub);
}

NginxSetup DavServer::setup() const
{
    NginxSetup setup;
    if (propfind)
        setup.Modules = "load_module /usr/lib/nginx/modules/ngx_http_dav_ext_module.so;\n";
    setup.Http = QString(
                     "  log_format dav '$request_method $request_uri $status';\n"
                     "  server {\n"
                     "    listen 127.0.0.1:%3;\n"
                     "    listen 127.0.0.1:%4 ssl;\n"
                     "    ssl_certificate %5;\n"
                     "    ssl_certificate_key %6;\n"
                     "    access_log %1/web/dav.log dav;\n"
                     "    root %7;\n"
                     "    client_max_body_size 0;\n"
                     "    location / {\n"
                     "      auth_basic \"publishing\";\n"
                     "      auth_basic_user_file %1/web/htpasswd;\n"
                     "      dav_methods PUT DELETE MKCOL COPY MOVE;\n"
                     "      %2\n"
                     "      dav_access user:rw group:r all:r;\n"
                     "    }\n"
                     "  }\n"
                     "  server {\n"
                     "    listen 127.0.0.1:%8;\n"
                     "    root %7;\n"
                     "    location / { }\n"
                     "  }\n")
                     .arg(root, propfind ? "dav_ext_methods PROPFIND OPTIONS;" : "")
                     .arg(httpPort)
                     .arg(httpsPort)
                     .arg(CertificateFile(), path("web/key.pem"), SiteFolder())
                     .arg(webPort);
    return setup;
}

bool DavServer::Start(QString* error)
{
    for (const char* folder : {"site", "web"}) {
        if (!QDir().mkpath(path(folder))) {
            *error = QString("cannot make %1").arg(path(folder));
            return false;
        }
    }
    if (madeFor != certificateName) {
        const QString alternatives =
            certificateName == "127.0.0.1" ? "IP:127.0.0.1,DNS:localhost" : "DNS:" + certificateName;
        if (!RunProgram("openssl",
                        {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                         "-days", "30", "-subj", "/CN=" + certificateName, "-addext", "subjectAltName=" + alternatives,
                         "-keyout", path("web/key.pem"), "-out", CertificateFile()},
                        error))
            return false;
        madeFor = certificateName;
    }
    QByteArray hash;
    if (!RunProgram("openssl", {"passwd", "-apr1", Password()}, error, QProcessEnvironment::systemEnvironment(),
                    &hash) ||
        !WriteText(path("web/htpasswd"), User().toUtf8() + ':' + hash.trimmed() + '\n'))
        return false;

    nginx.reset();
    const bool keepPorts = httpPort != 0;
    nginx = StartNginx(
        path("web"),
        [&] {
            if (!keepPorts) {
                httpPort = FreeLoopbackPort();
                httpsPort = FreeLoopbackPort();
                webPort = FreeLoopbackPort();
            }
            return setup();
        },
        [&] { return AcceptsOn(httpPort) && AcceptsOn(httpsPort) && AcceptsOn(webPort); }, error);
    pid = nginx ? nginx->Pid() : 0;
    return nginx != nullptr;
}

void DavServer::Crash() const
{
    // nginx runs as one process here: nothing of it lives on.
    if (pid > 0)
        ::kill(pid, SIGKILL);
}

QStringList DavServer::DavRequests() const
{
    static const QRegularExpression line(R"re(^([A-Z]+ \S+) \d+$)re");
    return LogCaptures(path("web/dav.log"), line);
}

}  // namespace TestSupport
