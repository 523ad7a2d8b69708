#include "support/DavServer.h"

#include "support/ServerProcess.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

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
    return certificate;
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

void DavServer::UseCertificate(const QString& certificateFile, const QString& keyFile)
{
    certificate = certificateFile;
    key = keyFile;
}

bool DavServer::writeConfig(QString* error)
{
    // One process (no workers that would drop to another user), everything
    // in our folder. Bodies wait beside the site, on its file system, so that
    // a whole PUT is renamed into place and a broken one leaves nothing.
    const QString temp = path("web/temp");
    const QByteArray config =
        QString(
            "daemon off;\n"
            "master_process off;\n"
            "%9"
            "pid %1/web/nginx.pid;\n"
            "error_log %1/web/error.log info;\n"
            "events { worker_connections 256; }\n"
            "http {\n"
            "  types { text/html html; text/javascript js mjs; application/wasm wasm;\n"
            "          application/x-shockwave-flash swf; video/x-flv flv; text/css css;\n"
            "          application/json json; }\n"
            "  default_type application/octet-stream;\n"
            "  log_format dav '$request_method $request_uri $status';\n"
            "  access_log %1/web/access.log;\n"
            "  client_body_temp_path %2/body; proxy_temp_path %2/proxy;\n"
            "  fastcgi_temp_path %2/fastcgi; uwsgi_temp_path %2/uwsgi;\n"
            "  scgi_temp_path %2/scgi;\n"
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
            "      %10\n"
            "      dav_access user:rw group:r all:r;\n"
            "    }\n"
            "  }\n"
            "  server {\n"
            "    listen 127.0.0.1:%8;\n"
            "    root %7;\n"
            "    location / { }\n"
            "  }\n"
            "}\n")
            .arg(root, temp)
            .arg(httpPort)
            .arg(httpsPort)
            .arg(certificate, key, SiteFolder())
            .arg(webPort)
            .arg(propfind ? "load_module /usr/lib/nginx/modules/ngx_http_dav_ext_module.so;\n" : "",
                 propfind ? "dav_ext_methods PROPFIND OPTIONS;" : "")
            .toLocal8Bit();
    if (!QDir().mkpath(temp) || !WriteText(path("web/nginx.conf"), config)) {
        *error = "cannot write the nginx configuration";
        return false;
    }
    return true;
}

bool DavServer::Start(QString* error)
{
    for (const char* folder : {"site", "web"}) {
        if (!QDir().mkpath(path(folder))) {
            *error = QString("cannot make %1").arg(path(folder));
            return false;
        }
    }
    if (certificate.isEmpty()) {
        UseCertificate(path("web/certificate.pem"), path("web/key.pem"));
        if (!RunProgram("openssl",
                        {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                         "-days", "30", "-subj", "/CN=127.0.0.1", "-addext",
                         "subjectAltName=IP:127.0.0.1,DNS:localhost", "-keyout", key, "-out", certificate},
                        error))
            return false;
    }
    QByteArray hash;
    if (!RunProgram("openssl", {"passwd", "-apr1", Password()}, error, QProcessEnvironment::systemEnvironment(),
                    &hash) ||
        !WriteText(path("web/htpasswd"), User().toUtf8() + ':' + hash.trimmed() + '\n'))
        return false;

    const bool keepPorts = httpPort != 0;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (!keepPorts) {
            httpPort = FreeLoopbackPort();
            httpsPort = FreeLoopbackPort();
            webPort = FreeLoopbackPort();
        }
        if (!writeConfig(error))
            return false;
        const qint64 logStart = QFileInfo(path("web/nginx.log")).size();
        QFile::remove(path("web/error.log"));
        nginx = std::make_unique<ServerProcess>(
            "/usr/sbin/nginx",
            QStringList{"-p", path("web/"), "-c", path("web/nginx.conf"), "-e", path("web/error.log")},
            path("web/nginx.log"), QProcessEnvironment::systemEnvironment());
        auto log = [&] { return ReadFile(path("web/nginx.log")).mid(logStart) + ReadFile(path("web/error.log")); };
        auto up = [&] { return AcceptsOn(httpPort) && AcceptsOn(httpsPort) && AcceptsOn(webPort); };
        if (nginx->Start() && WaitFor([&] { return up() || !nginx->Running(); }, ServerStartMs) &&
            nginx->Running())
            return true;
        *error = "nginx did not start: " + QString::fromLocal8Bit(log());
        nginx.reset();
        if (!log().contains("Address already in use"))
            return false;
        QTest::qSleep(200);
    }
    return false;
}

void DavServer::Stop()
{
    nginx.reset();
}

QStringList DavServer::DavRequests() const
{
    QStringList requests;
    static const QRegularExpression line(R"re(^([A-Z]+ \S+) \d+$)re");
    for (const QByteArray& text : ReadFile(path("web/dav.log")).split('\n')) {
        const auto match = line.match(QString::fromLocal8Bit(text));
        if (match.hasMatch())
            requests << match.captured(1);
    }
    return requests;
}

}  // namespace TestSupport
