#include "publish/Site.h"

#include "base/Descriptors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace Publish {
namespace {

QString ErrnoMessage(int error, const QString& path)
{
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return QStringLiteral("The folder %1 is not writable.").arg(QFileInfo(path).path());
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return QStringLiteral("There is no room left for %1.").arg(path);
    default:
        return QStringLiteral("%1 could not be written: %2.").arg(path, QString::fromLocal8Bit(std::strerror(error)));
    }
}

class LocalSite : public Site {
public:
    explicit LocalSite(const Destination& destination) : Folder(destination.Folder) {}

    QList<RemoteEntry> List(const QString& folder) override
    {
        QList<RemoteEntry> entries;
        const QFileInfoList infos = QDir(Full(folder)).entryInfoList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
        for (const QFileInfo& info : infos)
            entries.append(RemoteEntry{info.fileName(), info.size(), info.isDir()});
        return entries;
    }

    void Send(const QString& localFile, const QString& path, const ByteReport& report) override
    {
        const QString target = Full(path);
        const QString folder = QFileInfo(target).path();
        if (!QDir().mkpath(folder))
            throw Failure{QStringLiteral("The folder %1 could not be made; is its parent writable?").arg(folder)};
        const Platform::UniqueFd in(::open(QFile::encodeName(localFile).constData(), O_RDONLY | O_CLOEXEC));
        if (!in.Valid())
            throw Failure{QStringLiteral("%1 could not be read: %2.").arg(localFile, QString::fromLocal8Bit(std::strerror(errno)))};
        Platform::UniqueFd out(::open(QFile::encodeName(target).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (!out.Valid())
            throw Failure{ErrnoMessage(errno, target)};
        std::vector<char> buffer(1 << 20);
        qint64 sent = 0;
        for (;;) {
            const ssize_t got = ::read(in.Get(), buffer.data(), buffer.size());
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                throw Failure{QStringLiteral("%1 could not be read: %2.").arg(localFile, QString::fromLocal8Bit(std::strerror(errno)))};
            if (got == 0)
                break;
            for (ssize_t done = 0; done < got;) {
                const ssize_t put = ::write(out.Get(), buffer.data() + done, size_t(got - done));
                if (put < 0 && errno == EINTR)
                    continue;
                if (put < 0)
                    throw Failure{ErrnoMessage(errno, target)};
                done += put;
            }
            sent += got;
            if (!report(sent))
                throw Failure{{}, true};
        }
        // Whole on the disk before it takes the old file's place.
        if (::fsync(out.Get()) != 0 || ::close(out.Release()) != 0)
            throw Failure{ErrnoMessage(errno, target)};
    }

    void Rename(const QString& from, const QString& to) override
    {
        if (std::rename(QFile::encodeName(Full(from)).constData(), QFile::encodeName(Full(to)).constData()) != 0)
            throw Failure{ErrnoMessage(errno, Full(to))};
    }

    bool RenameReplaces() const override { return true; }

    void Remove(const QString& path) noexcept override { ::unlink(QFile::encodeName(Full(path)).constData()); }

    QString Address(const QString& path) const override { return Full(path); }

private:
    QString Full(const QString& path) const { return path.isEmpty() ? Folder : Folder + QLatin1Char('/') + path; }

    QString Folder;
};

}  // namespace

std::unique_ptr<Site> MakeLocalSite(const Destination& destination)
{
    return std::make_unique<LocalSite>(destination);
}

}  // namespace Publish
