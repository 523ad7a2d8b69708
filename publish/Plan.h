#pragma once
// The pure part of publishing: what a destination names, what the site page
// needs beside it, what a remote folder holds, and how host keys are shown.

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace Publish {

struct Destination {
    enum class Protocol { Local, Sftp, Ftp, Ftps, Http, Https };  // Http, Https: WebDAV
    Protocol Kind = Protocol::Local;
    QString User;    // empty: the local user's name (SFTP) or the login's user
    QString Host;
    int Port = 0;
    // SFTP, FTP: the path as the server sees it ("/var/www", "~/www": the
    // login's home); WebDAV: the URL's path ("/dav/site"); local: absolute.
    QString Folder;

    // Whether a password crosses the network unreadable.
    bool Encrypted() const { return Kind != Protocol::Ftp && Kind != Protocol::Http; }
    // FTP and WebDAV servers know their users by password only.
    bool PasswordOnly() const
    {
        return Kind == Protocol::Ftp || Kind == Protocol::Ftps || Kind == Protocol::Http || Kind == Protocol::Https;
    }
};

// "sftp://", "ftp://", "ftps://" (explicit TLS), "http://" or "https://"
// (WebDAV), each as "scheme://[user@]host[:port]/folder"; "file:///folder"
// or a local folder; nothing when the text names none (the reason in `error`).
std::optional<Destination> ParseDestination(const QString& text, QString* error);

// What the site page names: the player movie and the clip's file in flvs/.
struct PageParts {
    QString Movie;     // "flv_player_320x240.swf"
    QString ClipFile;  // "holiday.flv"
};
std::optional<PageParts> ReadPageParts(const QByteArray& pageText);

struct RemoteEntry {
    QString Name;
    qint64 Size = 0;
    bool Folder = false;
};

// One "ls -l" line per entry, as SFTP servers describe a folder:
// "-rw-r--r--    1 user     group      465076 Dec 10 13:13 ruffle.js".
// "." and ".." and lines that fit no entry are left out.
QList<RemoteEntry> ParseListing(const QByteArray& listing);

// A WebDAV server's answer to PROPFIND with depth 1 on `folder` (its path on
// the server): the entries in it, the folder itself left out.
QList<RemoteEntry> ParseMultistatus(const QByteArray& answer, const QString& folder);

// A TLS certificate's fingerprint from its DER bytes: "SHA256:" and the
// digest's upper-case hex pairs joined by ':', as certificate viewers show it.
QString CertificateFingerprint(const QByteArray& der);

// "SHA256:" and the unpadded base64 of the key's SHA-256, as OpenSSH shows it.
QString Sha256Fingerprint(const QByteArray& rawKey);

// The key's type as written in known_hosts ("ssh-ed25519"), read from the
// key blob itself; empty if the blob is malformed.
QString KeyTypeName(const QByteArray& rawKey);

// How known_hosts names a host: "host", or "[host]:port" off port 22.
QString KnownHostsName(const QString& host, int port);

// Where a file is written before it is whole, and where the old one waits
// while the new one takes its place; both beside it, hidden.
QString TemporaryName(const QString& name);
QString AsideName(const QString& name);
bool IsTemporaryName(const QString& name);
// The name of the file a name from AsideName() stands for; empty for any other.
QString AsideOriginal(const QString& name);
// The path a temporary or set-aside file stands for, as the user knows it;
// any other as it is.
QString ShownPath(const QString& path);

// A plain file name a page may be published under ("holiday.html").
bool IsPlainFileName(const QString& name);

// "a b/c.flv" as it goes into a URL path: each part percent-encoded.
QByteArray UrlPath(const QString& path);

}  // namespace Publish
