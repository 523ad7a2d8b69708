#include "publish/Plan.h"

#include <QCryptographicHash>
#include <QUrl>
#include <QXmlStreamReader>

namespace Publish {

std::optional<Destination> ParseDestination(const QString& text, QString* error)
{
    const QString trimmed = text.trimmed();
    Destination destination;
    if (trimmed.isEmpty()) {
        *error = QStringLiteral("Please give a destination: sftp://user@host/folder or a local folder.");
        return std::nullopt;
    }
    struct Scheme {
        QLatin1String Prefix;
        Destination::Protocol Kind;
        int Port;
    };
    static const Scheme schemes[] = {
        {QLatin1String("sftp://"), Destination::Protocol::Sftp, 22},  {QLatin1String("ftp://"), Destination::Protocol::Ftp, 21},
        {QLatin1String("ftps://"), Destination::Protocol::Ftps, 21},  {QLatin1String("http://"), Destination::Protocol::Http, 80},
        {QLatin1String("https://"), Destination::Protocol::Https, 443},
    };
    for (const Scheme& scheme : schemes) {
        if (!trimmed.startsWith(scheme.Prefix, Qt::CaseInsensitive))
            continue;
        const bool web = scheme.Kind == Destination::Protocol::Http || scheme.Kind == Destination::Protocol::Https;
        destination.Kind = scheme.Kind;
        destination.Port = scheme.Port;
        // QUrl would decode and re-encode the path; the folder is taken as typed.
        const QString rest = trimmed.mid(scheme.Prefix.size());
        const qsizetype slash = rest.indexOf(QLatin1Char('/'));
        QString authority = slash < 0 ? rest : rest.left(slash);
        destination.Folder = slash < 0 ? (web ? QStringLiteral("/") : QStringLiteral("~"))
                                       : QUrl::fromPercentEncoding(rest.mid(slash).toUtf8());
        const qsizetype at = authority.lastIndexOf(QLatin1Char('@'));
        if (at >= 0) {
            destination.User = QUrl::fromPercentEncoding(authority.left(at).toUtf8());
            authority = authority.mid(at + 1);
        }
        // "[::1]:2222" or "host:2222"
        qsizetype colon = authority.lastIndexOf(QLatin1Char(':'));
        if (authority.startsWith(QLatin1Char('['))) {
            const qsizetype close = authority.indexOf(QLatin1Char(']'));
            colon = close < 0 ? -1 : authority.indexOf(QLatin1Char(':'), close);
        }
        if (colon >= 0) {
            bool ok = false;
            destination.Port = authority.mid(colon + 1).toInt(&ok);
            if (!ok || destination.Port < 1 || destination.Port > 65535) {
                *error = QStringLiteral("The port in \"%1\" is not a number from 1 to 65535.").arg(trimmed);
                return std::nullopt;
            }
            authority = authority.left(colon);
        }
        if (authority.startsWith(QLatin1Char('[')) && authority.endsWith(QLatin1Char(']')))
            authority = authority.mid(1, authority.size() - 2);
        destination.Host = authority;
        if (destination.Host.isEmpty()) {
            *error = QStringLiteral("The destination \"%1\" names no host.").arg(trimmed);
            return std::nullopt;
        }
        // "/~/www" is the home folder's www, as other SFTP and FTP programs read it.
        if (!web && destination.Folder.startsWith(QLatin1String("/~")))
            destination.Folder = destination.Folder.mid(1);
        while (destination.Folder.size() > 1 && destination.Folder.endsWith(QLatin1Char('/')))
            destination.Folder.chop(1);
        return destination;
    }
    if (trimmed.contains(QLatin1String("://")) && !trimmed.startsWith(QLatin1String("file://"), Qt::CaseInsensitive)) {
        *error = QStringLiteral("The destination \"%1\" is neither sftp://, ftps://, ftp://, https://, http:// nor a local folder.").arg(trimmed);
        return std::nullopt;
    }
    QString folder = trimmed.startsWith(QLatin1String("file://"), Qt::CaseInsensitive)
                         ? QUrl(trimmed).toLocalFile()
                         : trimmed;
    if (folder.startsWith(QLatin1String("~/")))
        folder = qEnvironmentVariable("HOME") + folder.mid(1);
    if (folder.isEmpty() || !folder.startsWith(QLatin1Char('/'))) {
        *error = QStringLiteral("Please give the local folder \"%1\" as a full path (starting with /).").arg(trimmed);
        return std::nullopt;
    }
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    destination.Folder = folder;
    return destination;
}

std::optional<PageParts> ReadPageParts(const QByteArray& pageText)
{
    static const QByteArray movieMark = "<param name=\"movie\" value=\"";
    static const QByteArray clipMark = "file=flvs\\";
    PageParts parts;
    const qsizetype movieAt = pageText.indexOf(movieMark);
    if (movieAt < 0)
        return std::nullopt;
    const qsizetype movieStart = movieAt + movieMark.size();
    const qsizetype movieEnd = pageText.indexOf('"', movieStart);
    const qsizetype clipAt = pageText.indexOf(clipMark);
    if (movieEnd < 0 || clipAt < 0)
        return std::nullopt;
    const qsizetype clipStart = clipAt + clipMark.size();
    qsizetype clipEnd = clipStart;
    while (clipEnd < pageText.size() && pageText[clipEnd] != '&' && pageText[clipEnd] != '"')
        ++clipEnd;
    parts.Movie = QString::fromLocal8Bit(pageText.mid(movieStart, movieEnd - movieStart));
    // The page writer percent-encodes the clip's name; the file on disk is not.
    parts.ClipFile = QString::fromLocal8Bit(QByteArray::fromPercentEncoding(pageText.mid(clipStart, clipEnd - clipStart)));
    if (!IsPlainFileName(parts.Movie) || !IsPlainFileName(parts.ClipFile))
        return std::nullopt;
    return parts;
}

QList<RemoteEntry> ParseListing(const QByteArray& listing)
{
    QList<RemoteEntry> entries;
    for (QByteArray line : listing.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        // permissions, links, owner, group, size, month, day, time or year, name
        qsizetype at = 0;
        QList<QByteArray> fields;
        while (fields.size() < 8) {
            while (at < line.size() && line[at] == ' ')
                ++at;
            const qsizetype start = at;
            while (at < line.size() && line[at] != ' ')
                ++at;
            if (start == at)
                break;
            fields.append(line.mid(start, at - start));
        }
        if (fields.size() < 8 || at >= line.size())
            continue;
        QByteArray name = line.mid(at + 1);
        const char kind = fields[0].isEmpty() ? '?' : fields[0][0];
        if (kind == 'l') {
            const qsizetype arrow = name.indexOf(" -> ");
            if (arrow >= 0)
                name.truncate(arrow);
        }
        bool ok = false;
        const qint64 size = fields[4].toLongLong(&ok);
        if (!ok || name.isEmpty() || name == "." || name == "..")
            continue;
        entries.append(RemoteEntry{QString::fromUtf8(name), size, kind == 'd'});
    }
    return entries;
}

QString CertificateFingerprint(const QByteArray& der)
{
    return QStringLiteral("SHA256:") +
           QString::fromLatin1(QCryptographicHash::hash(der, QCryptographicHash::Sha256).toHex(':').toUpper());
}

QString Sha256Fingerprint(const QByteArray& rawKey)
{
    const QByteArray digest = QCryptographicHash::hash(rawKey, QCryptographicHash::Sha256);
    return QStringLiteral("SHA256:") +
           QString::fromLatin1(digest.toBase64(QByteArray::Base64Encoding | QByteArray::OmitTrailingEquals));
}

QString KeyTypeName(const QByteArray& rawKey)
{
    if (rawKey.size() < 4)
        return {};
    const auto byte = [&](int i) { return quint32(quint8(rawKey[i])); };
    const quint32 length = byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
    if (length == 0 || length > 64 || length > quint32(rawKey.size() - 4))
        return {};
    const QByteArray name = rawKey.mid(4, length);
    for (const char c : name)
        if (c <= ' ' || c > '~')
            return {};
    return QString::fromLatin1(name);
}

QString KnownHostsName(const QString& host, int port)
{
    return port == 22 ? host : QStringLiteral("[%1]:%2").arg(host).arg(port);
}

namespace {

const QLatin1String TemporarySuffix(".oz-part"), AsideSuffix(".oz-old");

// "name" from ".name<suffix>"; nothing when `hidden` is not of that form.
std::optional<QString> unhidden(const QString& hidden, QLatin1String suffix)
{
    if (!hidden.startsWith(QLatin1Char('.')) || !hidden.endsWith(suffix))
        return std::nullopt;
    return hidden.mid(1, hidden.size() - 1 - suffix.size());
}

}  // namespace

QString TemporaryName(const QString& name)
{
    return QLatin1Char('.') + name + TemporarySuffix;
}

QString AsideName(const QString& name)
{
    return QLatin1Char('.') + name + AsideSuffix;
}

bool IsTemporaryName(const QString& name)
{
    return unhidden(name, TemporarySuffix).has_value();
}

QString AsideOriginal(const QString& name)
{
    return unhidden(name, AsideSuffix).value_or(QString());
}

QString ShownPath(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString name = path.mid(slash + 1);
    std::optional<QString> original = unhidden(name, TemporarySuffix);
    if (!original)
        original = unhidden(name, AsideSuffix);
    return original ? path.left(slash + 1) + *original : path;
}

bool IsPlainFileName(const QString& name)
{
    return !name.isEmpty() && !name.startsWith(QLatin1Char('.')) && !name.contains(QLatin1Char('/')) &&
           !name.contains(QLatin1Char('\\')) && !name.contains(QLatin1Char('"')) &&
           std::none_of(name.begin(), name.end(), [](QChar c) { return c.unicode() < 0x20; });
}

QByteArray UrlPath(const QString& path)
{
    QByteArray encoded;
    const QStringList parts = path.split(QLatin1Char('/'));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i > 0)
            encoded += '/';
        encoded += parts[i] == QLatin1String("~") ? QByteArray("~") : QUrl::toPercentEncoding(parts[i]);
    }
    return encoded;
}

QList<RemoteEntry> ParseMultistatus(const QByteArray& answer, const QString& folder)
{
    const auto withoutSlash = [](QString path) {
        while (path.endsWith(QLatin1Char('/')))
            path.chop(1);
        return path;
    };
    const QString self = withoutSlash(folder);
    const QLatin1StringView dav("DAV:");
    QList<RemoteEntry> entries;
    RemoteEntry entry;
    QString href;
    QXmlStreamReader reader(answer);
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.namespaceUri() != dav)
            continue;
        const QStringView name = reader.name();
        if (reader.isStartElement()) {
            if (name == QLatin1String("response")) {
                entry = {};
                href.clear();
            } else if (name == QLatin1String("href") && href.isEmpty()) {
                href = reader.readElementText().trimmed();
            } else if (name == QLatin1String("collection")) {
                entry.Folder = true;
            } else if (name == QLatin1String("getcontentlength")) {
                entry.Size = reader.readElementText().trimmed().toLongLong();
            }
        } else if (reader.isEndElement() && name == QLatin1String("response")) {
            // The href is a path or a whole URL, percent-encoded either way.
            const QString path = withoutSlash(QUrl(href).path(QUrl::FullyDecoded));
            entry.Name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
            if (path != self && !entry.Name.isEmpty())
                entries.append(entry);
        }
    }
    return entries;
}

}  // namespace Publish
