#pragma once
// The sites the publish window remembers, last used first: everything typed
// for a site but its password, which only the keyring keeps (under the
// site's destination text). The windowless command finds its site here too.

#include <QList>
#include <QSettings>
#include <QString>
#include <QStringList>

namespace PublishSites {

struct Site {
    QString Destination;        // as typed, trimmed; what the site is known by
    QString Login;              // "agent", "key file" or "password"
    QString KeyFile;
    QString PublicAddress;
    QString PageName;           // typed for the clip whose default page is PageNameFor
    QString PageNameFor;
    QString PinnedCertificate;  // "SHA256:AB:..." trusted by the user; empty: the system's store only
    bool PlainWarned = false;   // told that the password crosses the network readable
    bool RememberPassword = false;
};

// A short list: the oldest falls off.
constexpr int MostSites = 8;

// Kept apart from anything a clip or page holds.
QSettings Settings();

// The sites, last used first. The one site of the earlier single-site
// settings joins the list the first time, and its old keys go.
QList<Site> Load(QSettings& settings);
void Save(QSettings& settings, const QList<Site>& sites);

// The site with this destination, or null.
const Site* Find(const QList<Site>& sites, const QString& destination);

// Puts `site` first, in place of one with the same destination. Returns the
// destinations that fell off the end, whose keyring entries must go too.
QStringList Use(QList<Site>& sites, const Site& site);

// Removes the site; false if there was none.
bool Forget(QList<Site>& sites, const QString& destination);

}  // namespace PublishSites
