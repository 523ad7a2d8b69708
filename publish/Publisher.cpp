#include "publish/Publisher.h"

#include "publish/Site.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <curl/curl.h>

#include <atomic>
#include <mutex>
#include <optional>

namespace Publish {

namespace {

const QString SitePageFile = QStringLiteral("SitePage.html");

std::optional<PageParts> ReadSitePage(const QString& htmlFolder)
{
    QFile page(QDir(htmlFolder).filePath(SitePageFile));
    if (!page.open(QIODevice::ReadOnly))
        return std::nullopt;
    return ReadPageParts(page.readAll());
}

QString FolderOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash);
}

QString Beside(const QString& path, const QString& name)
{
    const QString folder = FolderOf(path);
    return folder.isEmpty() ? name : folder + QLatin1Char('/') + name;
}

QString NameOf(const QString& path) { return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1); }

struct Item {
    QString Local;
    QString Path;  // at the destination
    qint64 Size = 0;
    bool Ruffle = false;
};

// The clip's name with ".html", so several clips share one site folder.
QString PageNameFor(const PageParts& parts)
{
    QString clip = parts.ClipFile;
    if (clip.endsWith(QLatin1String(".flv"), Qt::CaseInsensitive))
        clip.chop(4);
    return clip.isEmpty() ? QString() : clip + QLatin1String(".html");
}

}  // namespace

QString DefaultPageName(const QString& htmlFolder)
{
    const std::optional<PageParts> parts = ReadSitePage(htmlFolder);
    return parts ? PageNameFor(*parts) : QString();
}

void PlaceFile(Site& site, const QString& temp, const QString& path, bool exists, bool& changed)
{
    if (!exists) {
        site.Rename(temp, path);
        changed = true;
        return;
    }
    std::optional<Failure> refused;
    if (site.RenameReplaces()) {
        try {
            site.Rename(temp, path);
            changed = true;
            return;
        } catch (const Failure& failure) {
            if (failure.Cancelled)
                throw;
            refused = failure;
        }
    }
    // The old file steps aside for the one round trip the new one needs, and
    // comes back if the new one cannot take its place.
    const QString aside = Beside(path, AsideName(NameOf(path)));
    try {
        site.Rename(path, aside);
    } catch (const Failure& failure) {
        if (refused && !failure.Cancelled)
            throw *refused;  // the reason the file could not be replaced
        throw;
    }
    try {
        site.Rename(temp, path);
    } catch (const Failure&) {
        try {
            site.Rename(aside, path);
        } catch (const Failure&) {
            changed = true;  // the file is missing until a publish puts it back
        }
        throw;
    }
    changed = true;
    site.Remove(aside);
}

class Worker : public QThread {
public:
    Worker(Request request, HostKeyQuestion ask, CertificateQuestion askCertificate, Publisher* owner)
        : Job(std::move(request)), Ask(std::move(ask)), AskCertificate(std::move(askCertificate)), Owner(owner)
    {
    }

    void Cancel()
    {
        Stop = true;
        // Once every file is whole, putting them in place is not cut short:
        // that would leave the site half old, half new.
        if (!Placing)
            SiteStop = true;
    }

    Result Outcome;

protected:
    void run() override
    {
        try {
            Outcome = Publish();
        } catch (const Failure& failure) {
            Failed(failure.Message, failure.Cancelled);
        } catch (const std::exception& error) {
            Failed(QStringLiteral("Publishing failed: %1.").arg(QString::fromLocal8Bit(error.what())), false);
        } catch (...) {
            Failed(QStringLiteral("Publishing failed."), false);
        }
        // Trusted even if the publish failed later: the user need not be asked again.
        Outcome.TrustedCertificate = Trusted;
    }

private:
    // Only here is it known whether a file went out and whether one took its
    // place: the sites word what failed, never what it left. Placing is not
    // cut short, so a cancel once a file is in place stopped the check on the
    // web.
    void Failed(const QString& what, bool cancelled)
    {
        Outcome.Ok = false;
        Outcome.Cancelled = cancelled;
        if (cancelled && SiteChanged)
            Outcome.Message = QStringLiteral("The check on the web was cancelled; the new files are already on the site.");
        else if (cancelled)
            Outcome.Message = QStringLiteral("Publishing was cancelled; the site was left as it was.");
        else if (SiteChanged)
            Outcome.Message = what + QStringLiteral(" Some files on the site may already be new; please publish again.");
        else if (FilesOut)
            Outcome.Message = what + QStringLiteral(" The site was left as it was.");
        else
            Outcome.Message = what + QStringLiteral(" Nothing was sent.");
    }

    Result Publish()
    {
        QString error;
        const std::optional<Destination> destination = ParseDestination(Job.Destination, &error);
        if (!destination)
            throw Failure{error};
        const QDir html(Job.HtmlFolder);
        const std::optional<PageParts> parts = ReadSitePage(Job.HtmlFolder);
        if (!parts)
            throw Failure{QStringLiteral("There is no player page to publish in %1 yet. Please press \"Generate Player\" first.").arg(html.path())};
        QString pageName = Job.PageName.trimmed();
        if (pageName.isEmpty())
            pageName = PageNameFor(*parts);
        if (!IsPlainFileName(pageName))
            throw Failure{QStringLiteral("The page name \"%1\" is not a plain file name such as holiday.html.").arg(pageName)};

        // Ruffle first, then the clip and the movie, the page last: whoever
        // loads the new page finds everything it names.
        QList<Item> items;
        const QFileInfoList ruffle = QDir(html.filePath(QStringLiteral("ruffle"))).entryInfoList(QDir::Files, QDir::Name);
        if (ruffle.isEmpty())
            throw Failure{QStringLiteral("Ruffle is missing from %1; please install the program again.").arg(html.filePath(QStringLiteral("ruffle")))};
        for (const QFileInfo& file : ruffle)
            items.append(Item{file.filePath(), QStringLiteral("ruffle/") + file.fileName(), file.size(), true});
        items.append(Item{html.filePath(QStringLiteral("flvs/") + parts->ClipFile), QStringLiteral("flvs/") + parts->ClipFile});
        items.append(Item{html.filePath(parts->Movie), parts->Movie});
        items.append(Item{html.filePath(SitePageFile), pageName});
        for (Item& item : items) {
            const QFileInfo info(item.Local);
            if (!info.isFile() || !info.isReadable())
                throw Failure{QStringLiteral("%1 is missing or cannot be read.").arg(item.Local)};
            item.Size = info.size();
        }

        const std::unique_ptr<Site> site = MakeSite(*destination);
        Report(Progress{0, 0, 0, 0, QStringLiteral("Looking at %1").arg(Job.Destination)});
        // What the site holds now; what an earlier publish that was cut off left.
        QHash<QString, qint64> there;
        for (const QString& folder : {QString(), QStringLiteral("flvs"), QStringLiteral("ruffle")}) {
            const QList<RemoteEntry> entries = site->List(folder);
            for (const RemoteEntry& entry : entries) {
                const QString path = folder.isEmpty() ? entry.Name : folder + QLatin1Char('/') + entry.Name;
                if (!entry.Folder)
                    there.insert(path, entry.Size);
            }
        }
        Tidy(*site, there);

        QList<Item> sends;
        Progress progress;
        for (const Item& item : items) {
            if (item.Ruffle && there.value(item.Path, -1) == item.Size)
                continue;
            sends.append(item);
            progress.BytesTotal += item.Size;
        }
        progress.FilesTotal = int(sends.size());

        QStringList temporary;  // sent, not yet in place
        try {
            for (const Item& item : sends) {
                const QString temp = Beside(item.Path, TemporaryName(NameOf(item.Path)));
                progress.File = item.Path;
                Report(progress, true);
                const qint64 before = progress.BytesDone;
                temporary.append(temp);
                FilesOut = true;
                site->Send(item.Local, temp, [&](qint64 sent) {
                    progress.BytesDone = before + sent;
                    Report(progress);
                    return !Stop.load();
                });
                progress.BytesDone = before + item.Size;
                ++progress.FilesDone;
                Report(progress, true);
            }
            Placing = true;
            if (Stop)
                throw Failure{{}, true};
            for (const Item& item : sends) {
                PlaceFile(*site, temporary.front(), item.Path, there.contains(item.Path), SiteChanged);
                temporary.removeFirst();
            }
        } catch (...) {
            // Whatever ended it (out of memory too), the temporary files go.
            for (const QString& temp : temporary)
                site->Remove(temp);
            throw;
        }

        Result result;
        result.Ok = true;
        if (Job.PublicAddress.trimmed().isEmpty()) {
            result.PageAddress = site->Address(pageName);
            result.Message = QStringLiteral("Your clip is published at %1").arg(result.PageAddress);
            return result;
        }
        QString base = Job.PublicAddress.trimmed();
        while (base.endsWith(QLatin1Char('/')))
            base.chop(1);
        result.PageAddress = base + QLatin1Char('/') + QString::fromUtf8(UrlPath(pageName));
        progress.File = QStringLiteral("Checking %1").arg(result.PageAddress);
        Report(progress, true);
        const QList<CheckFile> check{{items.last().Local, pageName},
                                     {items[items.size() - 2].Local, items[items.size() - 2].Path},
                                     {items[items.size() - 3].Local, items[items.size() - 3].Path},
                                     {html.filePath(QStringLiteral("ruffle/ruffle.js")), QStringLiteral("ruffle/ruffle.js")}};
        const QString mismatch = CheckOnWeb(base, check, Stop);
        if (!mismatch.isEmpty()) {
            result.Ok = false;
            result.Message = QStringLiteral("The files were sent, but the check on the web failed: %1").arg(mismatch);
            return result;
        }
        result.Message = QStringLiteral("Your clip is on the web at %1").arg(result.PageAddress);
        return result;
    }

    std::unique_ptr<Site> MakeSite(const Destination& destination)
    {
        switch (destination.Kind) {
        case Destination::Protocol::Local:
            return MakeLocalSite(destination);
        case Destination::Protocol::Sftp:
            return MakeSftpSite(destination, Job, Ask, SiteStop);
        case Destination::Protocol::Ftp:
        case Destination::Protocol::Ftps:
            return MakeFtpSite(destination, Job, TrustingQuestion(), SiteStop);
        case Destination::Protocol::Http:
        case Destination::Protocol::Https:
            return MakeDavSite(destination, Job, TrustingQuestion(), SiteStop);
        }
        throw Failure{QStringLiteral("The destination %1 is of no kind known here.").arg(Job.Destination)};
    }

    // The caller's question, noting a yes: the outcome hands the fingerprint
    // back to be pinned, also when the publish fails later.
    CertificateQuestion TrustingQuestion()
    {
        if (!AskCertificate)
            return {};
        return [this](const QString& host, const QString& fingerprint, const QString& reason) {
            const bool yes = AskCertificate(host, fingerprint, reason);
            if (yes)
                Trusted = fingerprint;
            return yes;
        };
    }

    // Leftovers of a publish that was cut off (the connection lost, the
    // program ended): half-sent files go, an old file set aside comes back.
    void Tidy(Site& site, const QHash<QString, qint64>& there)
    {
        for (auto entry = there.begin(); entry != there.end(); ++entry) {
            const QString name = NameOf(entry.key());
            if (IsTemporaryName(name)) {
                site.Remove(entry.key());
            } else if (const QString aside = AsideOriginal(name); !aside.isEmpty()) {
                const QString original = Beside(entry.key(), aside);
                if (there.contains(original))
                    site.Remove(entry.key());
                else
                    site.Rename(entry.key(), original);
            }
        }
    }

    void Report(const Progress& progress, bool now = false)
    {
        if (!now && Since.isValid() && Since.elapsed() < 100)
            return;
        Since.start();
        emit Owner->ProgressChanged(progress);
    }

    Request Job;
    HostKeyQuestion Ask;
    CertificateQuestion AskCertificate;
    QString Trusted;
    Publisher* Owner;
    QElapsedTimer Since;
    std::atomic<bool> Stop{false}, SiteStop{false}, Placing{false};
    bool FilesOut = false;     // a file has begun to go out
    bool SiteChanged = false;  // a file on the site is no longer the one it was
};

Publisher::Publisher(QObject* parent) : QObject(parent)
{
    static std::once_flag once;
    std::call_once(once, [] {
        qRegisterMetaType<Publish::Progress>();
        qRegisterMetaType<Publish::Result>();
        curl_global_init(CURL_GLOBAL_DEFAULT);
    });
}

Publisher::~Publisher()
{
    if (Running) {
        Running->Cancel();
        Running->wait();
    }
}

void Publisher::Start(const Request& request, HostKeyQuestion askHostKey, CertificateQuestion askCertificate)
{
    if (Running && Running->isRunning())
        return;  // one publish at a time
    if (Running)
        Running->wait();
    Running = std::make_unique<Worker>(request, std::move(askHostKey), std::move(askCertificate), this);
    Worker* worker = Running.get();
    // The outcome crosses threads through Qt's locks, which ThreadSanitizer
    // cannot see; this flag, set on the worker thread once it is written,
    // shows it the handover.
    auto handedOver = std::make_shared<std::atomic<bool>>(false);
    connect(worker, &QThread::finished, worker, [handedOver] { handedOver->store(true, std::memory_order_release); },
            Qt::DirectConnection);
    connect(worker, &QThread::finished, this, [this, worker, handedOver] {
        if (Running.get() != worker)
            return;
        worker->wait();
        (void)handedOver->load(std::memory_order_acquire);
        emit Finished(worker->Outcome);
    }, Qt::QueuedConnection);
    worker->start();
}

void Publisher::Cancel()
{
    if (Running)
        Running->Cancel();
}

}  // namespace Publish
