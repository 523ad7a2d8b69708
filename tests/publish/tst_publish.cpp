// The publisher against a real OpenSSH sshd on loopback: every fault of the
// table leaves an earlier publish byte for byte as it was, with no
// temporary file beside it. Plus the pure parts that are easy to get wrong.

#include "publish/Plan.h"
#include "publish/Publisher.h"
#include "publish/Site.h"
#include "support/Certificates.h"
#include "support/FtpServer.h"
#include "support/DavServer.h"
#include "support/TestSupport.h"

#include <QDirIterator>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

#include <csignal>
#include <optional>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace Publish;

namespace {

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void Write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// Every file below a folder with its bytes (hidden ones too).
QMap<QString, QByteArray> Snapshot(const QString& folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(folder).relativeFilePath(path), ReadAll(path));
    }
    return files;
}

int FreePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

QString Run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        qFatal("%s failed: %s", qPrintable(program), process.readAllStandardError().constData());
    return QString::fromUtf8(process.readAllStandardOutput());
}

// Debian's sshd with its own host key on a free loopback port, letting in
// the user's key; its sessions are its children.
class Sshd {
public:
    enum Kind { Normal, ReadOnly, SmallFiles };

    Sshd(const QString& folder, const QString& authorizedKeys, Kind kind)
    {
        QDir().mkpath(QStringLiteral("/run/sshd"));  // privilege separation; a bare container lacks it
        const QString hostKey = folder + QStringLiteral("/host_key_") + QString::number(kind);
        if (!QFile::exists(hostKey))
            Run(QStringLiteral("ssh-keygen"), {"-q", "-t", "ed25519", "-N", "", "-f", hostKey});
        HostKeyLine = ReadAll(hostKey + QStringLiteral(".pub")).split(' ').mid(0, 2).join(' ');
        for (int attempt = 0; attempt < 5 && !Ready(); ++attempt) {
            Port = FreePort();
            const QString config = folder + QStringLiteral("/sshd_config");
            Write(config, QStringLiteral("Port %1\nListenAddress 127.0.0.1\nHostKey %2\nAuthorizedKeysFile %3\n"
                                         "PidFile none\nUsePAM no\nStrictModes no\nPasswordAuthentication no\n"
                                         "KbdInteractiveAuthentication no\nSubsystem sftp internal-sftp%4\n")
                              .arg(Port).arg(hostKey, authorizedKeys, kind == ReadOnly ? " -R" : "")
                              .toUtf8());
            Process = std::make_unique<QProcess>();
            Process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            Process->setChildProcessModifier([kind] {
                ::setsid();
                ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // gone with the test, however it ends
                if (kind == SmallFiles) {
                    // A server with no room beyond 1 MB a file: writes fail, the server lives.
                    ::signal(SIGXFSZ, SIG_IGN);
                    const rlimit limit{1 << 20, 1 << 20};
                    ::setrlimit(RLIMIT_FSIZE, &limit);
                }
            });
            Process->start(QStringLiteral("/usr/sbin/sshd"), {"-D", "-e", "-f", config});
            Process->waitForStarted(30000);
            QDeadlineTimer deadline(30000);
            while (!deadline.hasExpired() && Process->state() == QProcess::Running && !Ready())
                QTest::qWait(20);
        }
        if (!Ready())
            qFatal("sshd did not start");
    }
    ~Sshd()
    {
        Process->kill();
        Process->waitForFinished(30000);
    }

    bool Ready() const
    {
        if (!Process || Process->state() != QProcess::Running)
            return false;
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(Port));
        return socket.waitForConnected(1000);
    }

    // Ends every session as a crashing server would; the listener stays.
    void KillSessions() const
    {
        QList<qint64> parents{Process->processId()};
        while (!parents.isEmpty()) {
            const qint64 parent = parents.takeFirst();
            const QByteArray children =
                ReadAll(QStringLiteral("/proc/%1/task/%1/children").arg(parent)).trimmed();
            for (const QByteArray& child : children.split(' '))
                if (child.toLongLong() > 0) {
                    ::kill(pid_t(child.toLongLong()), SIGKILL);
                    parents.append(child.toLongLong());
                }
        }
    }

    QString Url(const QString& folder) const { return QStringLiteral("sftp://127.0.0.1:%1%2").arg(Port).arg(folder); }
    QString KnownHostsLine() const { return QStringLiteral("[127.0.0.1]:%1 %2\n").arg(Port).arg(HostKeyLine); }

    int Port = 0;
    QString HostKeyLine;
    std::unique_ptr<QProcess> Process;
};

// Acts once, when the clip's first bytes are out.
std::function<void(Publisher&, const Progress&)> WhenSendingClip(std::function<void(Publisher&)> act)
{
    return [act, done = false](Publisher& publisher, const Progress& progress) mutable {
        if (!done && progress.File == QLatin1String("flvs/my clip.flv") && progress.BytesDone > 0) {
            done = true;
            act(publisher);
        }
    };
}

// A message's last words follow from whether a file had gone out, whatever failed.
void CheckLastWords(const Result& result, bool filesWentOut)
{
    QCOMPARE(result.Message.contains(QLatin1String("nothing was sent"), Qt::CaseInsensitive), !filesWentOut);
    QVERIFY2(result.Message.endsWith(filesWentOut ? QLatin1String("left as it was.") : QLatin1String(" Nothing was sent.")),
             qPrintable(result.Message));
}

// A site that expects its renames to replace, as most FTP and WebDAV servers
// do, on OpenSSH's SFTP server, which refuses to rename onto a file.
class ClaimsReplacing : public Site {
public:
    explicit ClaimsReplacing(std::unique_ptr<Site> site) : Inner(std::move(site)) {}
    QList<RemoteEntry> List(const QString& folder) override { return Inner->List(folder); }
    void Send(const QString& local, const QString& path, const ByteReport& report) override { Inner->Send(local, path, report); }
    void Rename(const QString& from, const QString& to) override { ++Renames, Inner->Rename(from, to); }
    bool RenameReplaces() const override { return true; }
    void Remove(const QString& path) noexcept override { Inner->Remove(path); }
    QString Address(const QString& path) const override { return Inner->Address(path); }
    int Renames = 0;

private:
    std::unique_ptr<Site> Inner;
};

}  // namespace

class TestPublish : public QObject {
    Q_OBJECT

private:
    QTemporaryDir Temp;
    QString Home, Html, UserKey, OtherKey, Authorized;

    QString KnownHosts() const { return Home + QStringLiteral("/.ssh/known_hosts"); }

    // html/ as "Generate Player" leaves it; `version` changes every byte a
    // publish sends, and `clipBytes` the clip's size.
    void MakeHtml(int version, qint64 clipBytes)
    {
        const QByteArray mark = "v" + QByteArray::number(version);
        Write(Html + QStringLiteral("/SitePage.html"),
              "<html> <body>\r\n<script src=\"ruffle/ruffle.js\"></script> " + mark +
                  "\r\n<object><param name=\"movie\" value=\"flv_player_320x240.swf\" /> "
                  "<param name=\"FlashVars\" value=\"file=flvs\\my%20clip.flv&amp;clipLength=5\" /></object>\r\n</body> </html>\r\n");
        Write(Html + QStringLiteral("/flv_player_320x240.swf"), "FWS movie " + mark);
        Write(Html + QStringLiteral("/ruffle/ruffle.js"), "// ruffle " + mark);
        const QString clip = Html + QStringLiteral("/flvs/my clip.flv");
        Write(clip, "FLV " + mark);
        if (!QFile::resize(clip, clipBytes))  // the rest reads as zeros, quickly
            qFatal("cannot grow the clip");
    }

    Result Publish(const Request& request, HostKeyQuestion ask = {}, std::function<void(Publisher&, const Progress&)> onProgress = {},
                   CertificateQuestion askCertificate = {})
    {
        Publisher publisher;
        QSignalSpy finished(&publisher, &Publisher::Finished);
        QObject::connect(&publisher, &Publisher::ProgressChanged, [&](const Progress& progress) {
            if (onProgress)
                onProgress(publisher, progress);
        });
        publisher.Start(request, std::move(ask), std::move(askCertificate));
        if (!finished.wait(300000))
            qFatal("the publish did not finish");
        return finished.first().first().value<Result>();
    }

    Request KeyRequest(const QString& destination) const
    {
        Request request;
        request.HtmlFolder = Html;
        request.Destination = destination;
        request.Login = LoginKind::KeyFile;
        request.KeyFile = UserKey;
        request.PageName = QStringLiteral("holiday.html");
        return request;
    }

    Request PasswordRequest(const QString& destination, const QString& password, const QString& pinned) const
    {
        Request request = KeyRequest(destination);
        request.Login = LoginKind::Password;
        request.Password = password;
        request.PinnedCertificate = pinned;
        return request;
    }

    // "SHA256:AB:CD:..." of a PEM certificate, as openssl shows it.
    static QString CertificateFingerprintOf(const QString& pem)
    {
        const QString shown = Run(QStringLiteral("openssl"), {"x509", "-noout", "-fingerprint", "-sha256", "-in", pem});
        return QStringLiteral("SHA256:") + shown.section(QLatin1Char('='), 1).trimmed();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(Temp.isValid());
        // known_hosts is this test's own.
        Home = Temp.filePath(QStringLiteral("home"));
        QDir().mkpath(Home + QStringLiteral("/.ssh"));
        qputenv("HOME", QFile::encodeName(Home));
        Html = Temp.filePath(QStringLiteral("html"));
        UserKey = Temp.filePath(QStringLiteral("user_key"));
        OtherKey = Temp.filePath(QStringLiteral("other_key"));
        Run(QStringLiteral("ssh-keygen"), {"-q", "-t", "ed25519", "-N", "", "-f", UserKey});
        Run(QStringLiteral("ssh-keygen"), {"-q", "-t", "ed25519", "-N", "", "-f", OtherKey});
        Authorized = Temp.filePath(QStringLiteral("authorized_keys"));
        QVERIFY(QFile::copy(UserKey + QStringLiteral(".pub"), Authorized));
    }

    void faults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::newRow("wrong key") << "wrong key" << "did not accept the key";
        QTest::newRow("key with a passphrase") << "passphrase" << "protected by a passphrase";
        QTest::newRow("connection refused") << "refused" << "refused the connection";
        QTest::newRow("host key changed") << "changed" << "has changed";
        QTest::newRow("unknown key declined") << "declined" << "was not trusted";
        QTest::newRow("server stopped mid-upload") << "stopped" << "broke off while sending flvs/my clip.flv";
        QTest::newRow("no room on the server") << "no room" << "no room left";
        QTest::newRow("folder not writable") << "read-only" << "is not writable";
        QTest::newRow("cancel mid-upload") << "cancel" << "cancelled";
        // The same over WebDAV (https, nginx behind basic authentication).
        QTest::newRow("webdav, wrong password") << "dav wrong password" << "did not accept the password for the user publisher";
        QTest::newRow("webdav, server stopped mid-upload") << "dav stopped" << "broke off while sending flvs/my clip.flv";
        QTest::newRow("webdav, cancel mid-upload") << "dav cancel" << "cancelled";
        QTest::newRow("webdav, certificate for another name")
            << "dav other name" << "the certificate is for another name (other.example)";
    }

    void faults()
    {
        QFETCH(QString, fault);
        QFETCH(QString, message);
        const bool dav = fault.startsWith(QLatin1String("dav "));
        QString site = Temp.filePath(QStringLiteral("site-") + QString(fault).replace(' ', '-'));
        const QString folder = site + QStringLiteral("/www");
        std::optional<Sshd> server;
        std::optional<TestSupport::DavServer> davServer;
        Request request = KeyRequest({});
        if (dav) {
            davServer.emplace(site);
            QString error;
            QVERIFY2(davServer->Start(&error), qPrintable(error));
            site = davServer->SiteFolder();
            request = PasswordRequest(davServer->Destination(true, QStringLiteral("www")), davServer->Password(),
                                      CertificateFingerprintOf(davServer->CertificateFile()));
        } else {
            server.emplace(Temp.path(), Authorized, Sshd::Normal);
            Write(KnownHosts(), server->KnownHostsLine().toUtf8());
            request.Destination = server->Url(folder);
        }

        MakeHtml(1, 1000);
        const Result first = Publish(request);
        QVERIFY2(first.Ok, qPrintable(first.Message));
        const QMap<QString, QByteArray> before = Snapshot(site);
        QCOMPARE(before.keys(), QStringList({"www/flv_player_320x240.swf", "www/flvs/my clip.flv", "www/holiday.html", "www/ruffle/ruffle.js"}));

        // Every byte differs now; a large clip keeps the upload going long
        // enough to be stopped.
        MakeHtml(2, 256 << 20);
        HostKeyQuestion ask;
        QString asked;
        std::function<void(Publisher&, const Progress&)> midway;
        const auto whenSendingClip = &WhenSendingClip;
        std::unique_ptr<Sshd> other;
        if (fault == QLatin1String("dav wrong password")) {
            request.Password = QStringLiteral("sesame");
        } else if (fault == QLatin1String("dav other name")) {
            davServer->CertificateFor(QStringLiteral("other.example"));
            QString error;
            QVERIFY2(davServer->Start(&error), qPrintable(error));
            request.PinnedCertificate.clear();
        } else if (fault == QLatin1String("dav stopped")) {
            midway = whenSendingClip([&davServer](Publisher&) { davServer->Crash(); });
        } else if (fault == QLatin1String("wrong key")) {
            request.KeyFile = OtherKey;
        } else if (fault == QLatin1String("passphrase")) {
            request.KeyFile = Temp.filePath(QStringLiteral("locked_key"));
            QVERIFY(QFile::copy(UserKey, request.KeyFile));
            Run(QStringLiteral("ssh-keygen"), {"-q", "-p", "-P", "", "-N", "sesame", "-f", request.KeyFile});
        } else if (fault == QLatin1String("refused")) {
            request.Destination = QStringLiteral("sftp://127.0.0.1:%1%2").arg(FreePort()).arg(folder);
        } else if (fault == QLatin1String("changed")) {
            Write(KnownHosts(), QStringLiteral("[127.0.0.1]:%1 %2\n").arg(server->Port)
                                    .arg(QString::fromUtf8(ReadAll(OtherKey + QStringLiteral(".pub")).split(' ').mid(0, 2).join(' ')))
                                    .toUtf8());
        } else if (fault == QLatin1String("declined")) {
            Write(KnownHosts(), "");
            ask = [&asked](const QString& host, const QString& fingerprint) {
                asked = host + QLatin1Char(' ') + fingerprint;
                return false;
            };
        } else if (fault == QLatin1String("stopped")) {
            midway = whenSendingClip([&server](Publisher&) { server->KillSessions(); });
        } else if (fault.endsWith(QLatin1String("cancel"))) {
            midway = whenSendingClip([](Publisher& publisher) { publisher.Cancel(); });
        } else {
            other = std::make_unique<Sshd>(Temp.path(), Authorized, fault == QLatin1String("no room") ? Sshd::SmallFiles : Sshd::ReadOnly);
            Write(KnownHosts(), other->KnownHostsLine().toUtf8());
            request.Destination = other->Url(folder);
        }
        const QByteArray knownHosts = ReadAll(KnownHosts());
        const Result result = Publish(request, ask, midway);

        QVERIFY(!result.Ok);
        QVERIFY2(result.Message.contains(message), qPrintable(result.Message));
        CheckLastWords(result, fault.endsWith(QLatin1String("stopped")) || fault.endsWith(QLatin1String("cancel")) ||
                                   fault == QLatin1String("no room") || fault == QLatin1String("read-only"));
        QCOMPARE(result.Cancelled, fault.endsWith(QLatin1String("cancel")));
        // The site as it was: the same files, byte for byte, nothing beside them.
        QCOMPARE(Snapshot(site).keys(), before.keys());
        QVERIFY(Snapshot(site) == before);
        QCOMPARE(ReadAll(KnownHosts()), knownHosts);
        if (fault == QLatin1String("declined")) {
            // Shown as OpenSSH shows it, in the question and in the message.
            const QString fingerprint = Run(QStringLiteral("ssh-keygen"), {"-l", "-f", Temp.filePath(QStringLiteral("host_key_0.pub"))}).split(' ').value(1);
            QCOMPARE(asked, QStringLiteral("127.0.0.1 ") + fingerprint);
            QVERIFY(result.Message.contains(fingerprint));
        }
    }

    // FTP over TLS (pure-ftpd): the same promise as over SFTP, and a
    // certificate the system does not trust never sees the password.
    void ftpsFaults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::newRow("wrong password") << "password" << "did not accept the password for the user publisher. Nothing was sent.";
        QTest::newRow("certificate for another name") << "other name" << "for another name (other.example)";
        QTest::newRow("self-signed, not trusted") << "declined" << "the certificate's issuer is unknown. Its fingerprint is SHA256:";
        QTest::newRow("expired certificate") << "expired" << "the certificate has expired";
        QTest::newRow("server stopped mid-upload") << "stopped" << "broke off while sending flvs/my clip.flv";
        QTest::newRow("cancel mid-upload") << "cancel" << "cancelled";
    }

    void ftpsFaults()
    {
        QFETCH(QString, fault);
        QFETCH(QString, message);
        const QString folder = Temp.filePath(QStringLiteral("ftp-") + QString(fault).replace(' ', '-'));
        QVERIFY(QDir().mkpath(folder));
        TestSupport::FtpServer server(folder);
        QString error;
        QVERIFY2(server.Start(&error), qPrintable(error));
        Request request = KeyRequest(server.Destination(true, QStringLiteral("www")));
        request.Login = LoginKind::Password;
        request.Password = server.Password();
        request.PinnedCertificate = TestSupport::FingerprintOf(server.CertificateFile());
        MakeHtml(1, 1000);
        const Result first = Publish(request);
        QVERIFY2(first.Ok, qPrintable(first.Message));
        const QMap<QString, QByteArray> before = Snapshot(server.SiteFolder());
        QCOMPARE(before.keys(), QStringList({"www/flv_player_320x240.swf", "www/flvs/my clip.flv", "www/holiday.html", "www/ruffle/ruffle.js"}));

        MakeHtml(2, 256 << 20);
        std::function<void(Publisher&, const Progress&)> midway;
        QStringList asked;
        const CertificateQuestion no = [&asked](const QString& host, const QString& fingerprint, const QString& reason) {
            asked << host + QLatin1Char(' ') + fingerprint + QLatin1Char(' ') + reason;
            return false;
        };
        if (fault == QLatin1String("password")) {
            request.Password = QStringLiteral("sesame");
        } else if (fault == QLatin1String("stopped")) {
            midway = WhenSendingClip([&server](Publisher&) { server.KillSessions(); });
        } else if (fault == QLatin1String("cancel")) {
            midway = WhenSendingClip([](Publisher& publisher) { publisher.Cancel(); });
        } else {
            TestSupport::Certificate other;
            if (fault != QLatin1String("declined")) {
                QVERIFY2(TestSupport::MakeCertificate(folder, QStringLiteral("other"), fault == QLatin1String("expired") ? "IP:127.0.0.1" : "DNS:other.example",
                                                      fault == QLatin1String("expired"), &other, &error),
                         qPrintable(error));
                server.Stop();
                server.UseCertificate(other.File, other.Key);
                QVERIFY2(server.Start(&error), qPrintable(error));
            }
            request.PinnedCertificate.clear();
        }
        const Result result = Publish(request, {}, midway, no);

        QVERIFY(!result.Ok);
        QVERIFY2(result.Message.contains(message), qPrintable(result.Message));
        CheckLastWords(result, fault == QLatin1String("stopped") || fault == QLatin1String("cancel"));
        QCOMPARE(result.Cancelled, fault == QLatin1String("cancel"));
        QVERIFY(result.TrustedCertificate.isEmpty());
        QVERIFY(!result.Message.contains(server.Password()) && !result.Message.contains(QStringLiteral("sesame")));
        QCOMPARE(Snapshot(server.SiteFolder()).keys(), before.keys());
        QVERIFY(Snapshot(server.SiteFolder()) == before);
        if (!request.PinnedCertificate.isEmpty()) {
            QVERIFY(asked.isEmpty());
            return;
        }
        // Asked once, before the login; the fingerprint as openssl reckons it.
        const QString fingerprint = TestSupport::FingerprintOf(server.CertificateFile());
        QCOMPARE(asked.size(), 1);
        QVERIFY2(asked.first().startsWith(QStringLiteral("127.0.0.1 ") + fingerprint + QLatin1Char(' ')), qPrintable(asked.first()));
        QVERIFY(result.Message.contains(fingerprint) && result.Message.contains(QStringLiteral("Nothing was sent")));
    }

    // A self-signed certificate trusted once is handed back to be pinned; the
    // pin lets later publishes pass without a question, and refuses another
    // certificate in its place.
    void ftpsCertificateTrusted()
    {
        const QString folder = Temp.filePath(QStringLiteral("ftp-trusted"));
        QVERIFY(QDir().mkpath(folder));
        TestSupport::FtpServer server(folder);
        QString error;
        QVERIFY2(server.Start(&error), qPrintable(error));
        Request request = KeyRequest(server.Destination(true, QStringLiteral("~/site/")));
        request.Login = LoginKind::Password;
        request.Password = server.Password();
        int asked = 0;
        const CertificateQuestion yes = [&asked](const QString&, const QString&, const QString&) { return ++asked, true; };
        MakeHtml(1, 1000);
        const Result trusted = Publish(request, {}, {}, yes);
        QVERIFY2(trusted.Ok, qPrintable(trusted.Message));
        QCOMPARE(trusted.TrustedCertificate, TestSupport::FingerprintOf(server.CertificateFile()));
        QCOMPARE(asked, 1);

        request.PinnedCertificate = trusted.TrustedCertificate;
        MakeHtml(2, 1000);
        const Result pinned = Publish(request, {}, {}, yes);
        QVERIFY2(pinned.Ok, qPrintable(pinned.Message));
        QCOMPARE(asked, 1);
        QVERIFY(pinned.TrustedCertificate.isEmpty());
        QCOMPARE(ReadAll(server.SiteFolder() + QStringLiteral("/site/holiday.html")), ReadAll(Html + QStringLiteral("/SitePage.html")));

        const QMap<QString, QByteArray> before = Snapshot(server.SiteFolder());
        TestSupport::Certificate other;
        QVERIFY2(TestSupport::MakeCertificate(folder, QStringLiteral("renewed"), "IP:127.0.0.1", false, &other, &error), qPrintable(error));
        server.Stop();
        server.UseCertificate(other.File, other.Key);
        QVERIFY2(server.Start(&error), qPrintable(error));
        MakeHtml(3, 1000);
        const Result refused = Publish(request, {}, {}, yes);
        QVERIFY(!refused.Ok);
        QVERIFY2(refused.Message.contains(QStringLiteral("differs from the one trusted for this site (it is now %1)")
                                              .arg(TestSupport::FingerprintOf(other.File))),
                 qPrintable(refused.Message));
        QCOMPARE(asked, 1);
        QVERIFY(Snapshot(server.SiteFolder()) == before);
    }

    // A key trusted once is written where OpenSSH (and the next publish) find it.
    void unknownKeyTrusted()
    {
        const QString folder = Temp.filePath(QStringLiteral("site-trusted"));
        Sshd server(Temp.path(), Authorized, Sshd::Normal);
        QFile::remove(KnownHosts());
        MakeHtml(1, 1000);
        int asked = 0;
        const HostKeyQuestion yes = [&asked](const QString&, const QString&) { return ++asked, true; };
        QVERIFY(Publish(KeyRequest(server.Url(folder)), yes).Ok);
        QVERIFY(Publish(KeyRequest(server.Url(folder)), yes).Ok);
        QCOMPARE(asked, 1);
        QCOMPARE(QString::fromUtf8(ReadAll(KnownHosts())), server.KnownHostsLine());
        QCOMPARE(Run(QStringLiteral("ssh-keygen"), {"-F", QStringLiteral("[127.0.0.1]:%1").arg(server.Port), "-f", KnownHosts()}).isEmpty(), false);
    }

    // A replacing rename refused (here by a real server) falls back to setting
    // the old file aside; when the new one cannot take its place either, the
    // old one is back and nothing is left beside it.
    void placeWhereReplacingIsRefused_data()
    {
        QTest::addColumn<bool>("newFileThere");
        QTest::newRow("the old file steps aside") << true;
        QTest::newRow("the new file gone, the old one back") << false;
    }

    void placeWhereReplacingIsRefused()
    {
        QFETCH(bool, newFileThere);
        const QString folder = Temp.filePath(QStringLiteral("site-place-%1").arg(newFileThere));
        Write(folder + QStringLiteral("/page.html"), "old");
        if (newFileThere)
            Write(folder + QLatin1Char('/') + TemporaryName(QStringLiteral("page.html")), "new");
        Sshd server(Temp.path(), Authorized, Sshd::Normal);
        Write(KnownHosts(), server.KnownHostsLine().toUtf8());
        QString error;
        const std::atomic<bool> stop{false};
        ClaimsReplacing site(MakeSftpSite(*ParseDestination(server.Url(folder), &error), KeyRequest({}), {}, stop));
        bool changed = false;
        bool failed = false;
        try {
            PlaceFile(site, TemporaryName(QStringLiteral("page.html")), QStringLiteral("page.html"), true, changed);
        } catch (const Failure& failure) {
            failed = true;
            QVERIFY2(failure.Message.contains(QLatin1String("could not put page.html in place")), qPrintable(failure.Message));
        }
        QCOMPARE(failed, !newFileThere);
        QCOMPARE(changed, newFileThere);
        QCOMPARE(site.Renames, newFileThere ? 3 : 4);  // refused, aside, in place (or not, and back)
        QCOMPARE(Snapshot(folder), (QMap<QString, QByteArray>{{"page.html", newFileThere ? "new" : "old"}}));
    }

    void destinations_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("parsed");  // user|host|port|folder, or empty: refused
        QTest::newRow("full") << "sftp://me@example.org:2222/var/www/clips/" << "me|example.org|2222|/var/www/clips";
        QTest::newRow("home folder") << "sftp://example.org/~/www" << "|example.org|22|~/www";
        QTest::newRow("no folder") << "sftp://example.org" << "|example.org|22|~";
        QTest::newRow("ipv6") << "sftp://[::1]:2200/srv" << "|::1|2200|/srv";
        QTest::newRow("user with @") << "sftp://a%40b@h/x" << "a@b|h|22|/x";
        QTest::newRow("spaces, encoded") << "sftp://h/my%20site" << "|h|22|/my site";
        QTest::newRow("bad port") << "sftp://h:99999/x" << "";
        QTest::newRow("no host") << "sftp:///x" << "";
        QTest::newRow("local") << "/media/share/site/" << "||0|/media/share/site";
        QTest::newRow("file url") << "file:///srv/site" << "||0|/srv/site";
        QTest::newRow("relative") << "site" << "";
        QTest::newRow("other protocol") << "gopher://h/x" << "";
        QTest::newRow("ftps, default port") << "ftps://me@h/~/www/" << "me|h|21|~/www";
        QTest::newRow("ftp, no folder") << "FTP://h:2121" << "|h|2121|~";
        QTest::newRow("webdav, path kept") << "https://h/dav/~me/site/" << "|h|443|/dav/~me/site";
        QTest::newRow("webdav, no folder") << "http://h" << "|h|80|/";
    }

    void destinations()
    {
        QFETCH(QString, text);
        QFETCH(QString, parsed);
        QString error;
        const std::optional<Destination> destination = ParseDestination(text, &error);
        QCOMPARE(destination.has_value(), !parsed.isEmpty());
        if (!destination) {
            QVERIFY(!error.isEmpty());
            return;
        }
        QCOMPARE(QStringLiteral("%1|%2|%3|%4").arg(destination->User, destination->Host)
                     .arg(destination->Kind != Destination::Protocol::Local ? destination->Port : 0).arg(destination->Folder), parsed);
    }

    void listingAndPage()
    {
        const QList<RemoteEntry> entries = ParseListing(
            "drwxr-xr-x    2 web      web          4096 Dec 10 13:13 .\n"
            "drwxr-xr-x    4 web      web          4096 Dec 10 13:13 ..\n"
            "-rw-r--r--    1 web      web        465076 Dec  1  2025 ruffle.js\r\n"
            "-rw-r--r--    1 web      web             7 Dec 10 13:13  two  spaces.wasm\n"
            "lrwxrwxrwx    1 web      web            12 Dec 10 13:13 link.js -> ruffle.js\n"
            "drwxr-xr-x    2 web      web          4096 Dec 10 13:13 flvs\n"
            "garbage\n");
        QStringList seen;
        for (const RemoteEntry& entry : entries)
            seen << QStringLiteral("%1=%2%3").arg(entry.Name).arg(entry.Size).arg(entry.Folder ? "/" : "");
        QCOMPARE(seen, QStringList({"ruffle.js=465076", " two  spaces.wasm=7", "link.js=12", "flvs=4096/"}));

        // WebDAV's listing: paths or whole URLs, percent-encoded, any prefix
        // for DAV:, the folder itself among them, a folder's length missing.
        seen.clear();
        for (const RemoteEntry& entry : ParseMultistatus(
                 "<?xml version=\"1.0\"?><d:multistatus xmlns:d=\"DAV:\" xmlns:x=\"urn:x\">"
                 "<d:response><d:href>/my%20site/</d:href><d:propstat><d:prop><d:resourcetype><d:collection/>"
                 "</d:resourcetype></d:prop></d:propstat></d:response>"
                 "<d:response><d:href>https://h:8443/my%20site/ruffle.js</d:href><d:propstat><d:prop>"
                 "<d:getcontentlength>465076</d:getcontentlength><d:resourcetype/></d:prop></d:propstat></d:response>"
                 "<response xmlns=\"DAV:\"><href>/my%20site/flvs/</href><propstat><prop><resourcetype><collection/>"
                 "</resourcetype></prop></propstat><propstat><prop><getcontentlength/></prop>"
                 "<status>HTTP/1.1 404 Not Found</status></propstat></response>"
                 "<d:response><d:href>/my%20site/.a%20b.flv.oz-part</d:href><d:propstat><d:prop><x:collection/>"
                 "<d:getcontentlength> 7 </d:getcontentlength></d:prop></d:propstat></d:response></d:multistatus>",
                 "/my site/"))
            seen << QStringLiteral("%1=%2%3").arg(entry.Name).arg(entry.Size).arg(entry.Folder ? "/" : "");
        QCOMPARE(seen, QStringList({"ruffle.js=465076", "flvs=0/", ".a b.flv.oz-part=7"}));

        const std::optional<PageParts> parts = ReadPageParts(
            "<param name=\"movie\" value=\"flv_player_640x480.swf\" /> <param name=\"FlashVars\" value=\"file=flvs\\a%26b%25.flv&clipLength=3\"");
        QVERIFY(parts);
        QCOMPARE(parts->Movie, QStringLiteral("flv_player_640x480.swf"));
        QCOMPARE(parts->ClipFile, QStringLiteral("a&b%.flv"));
        QVERIFY(!ReadPageParts("<param name=\"movie\" value=\"../x.swf\" /> file=flvs\\a.flv"));
        // A message names the file the user knows, not its hidden stand-in.
        for (const QString& hidden : {TemporaryName(QStringLiteral("a b.flv")), AsideName(QStringLiteral("a b.flv"))})
            QCOMPARE(ShownPath(QStringLiteral("flvs/") + hidden), QStringLiteral("flvs/a b.flv"));
    }
};

OZ_TEST_MAIN(TestPublish)
#include "tst_publish.moc"
