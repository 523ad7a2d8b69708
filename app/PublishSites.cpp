#include "app/PublishSites.h"

namespace PublishSites {

namespace {

const QString Group = QStringLiteral("sites");

// What a site entry and the single site of earlier versions both hold.
Site readCommonKeys(const QSettings& settings)
{
    Site site;
    site.Destination = settings.value("destination").toString().trimmed();
    site.Login = settings.value("login").toString();
    site.KeyFile = settings.value("keyFile").toString();
    site.PublicAddress = settings.value("publicAddress").toString();
    site.PageName = settings.value("pageName").toString();
    site.PageNameFor = settings.value("pageNameFor").toString();
    return site;
}

}  // namespace

QSettings Settings()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("ombrix-zudodira"),
                     QStringLiteral("publish"));
}

QList<Site> Load(QSettings& settings)
{
    QList<Site> sites;
    const int count = settings.beginReadArray(Group);
    for (int i = 0; i < count; ++i) {
        settings.setArrayIndex(i);
        Site site = readCommonKeys(settings);
        site.PinnedCertificate = settings.value("pinnedCertificate").toString();
        site.PlainWarned = settings.value("plainWarned").toBool();
        site.RememberPassword = settings.value("rememberPassword").toBool();
        if (!site.Destination.isEmpty() && !Find(sites, site.Destination) && sites.size() < MostSites)
            sites << site;
    }
    settings.endArray();

    // The single site of earlier versions, kept under top-level keys.
    if (settings.contains("destination")) {
        const Site old = readCommonKeys(settings);
        for (const char* key : {"destination", "login", "keyFile", "publicAddress", "pageName", "pageNameFor"})
            settings.remove(key);
        if (!old.Destination.isEmpty() && !Find(sites, old.Destination) && sites.size() < MostSites)
            sites << old;
        Save(settings, sites);
    }
    return sites;
}

void Save(QSettings& settings, const QList<Site>& sites)
{
    settings.remove(Group);
    settings.beginWriteArray(Group, int(sites.size()));
    for (int i = 0; i < sites.size(); ++i) {
        const Site& site = sites[i];
        settings.setArrayIndex(i);
        settings.setValue("destination", site.Destination);
        settings.setValue("login", site.Login);
        settings.setValue("keyFile", site.KeyFile);
        settings.setValue("publicAddress", site.PublicAddress);
        settings.setValue("pageName", site.PageName);
        settings.setValue("pageNameFor", site.PageNameFor);
        settings.setValue("pinnedCertificate", site.PinnedCertificate);
        settings.setValue("plainWarned", site.PlainWarned);
        settings.setValue("rememberPassword", site.RememberPassword);
    }
    settings.endArray();
    settings.sync();
}

const Site* Find(const QList<Site>& sites, const QString& destination)
{
    const QString wanted = destination.trimmed();
    for (const Site& site : sites)
        if (site.Destination == wanted)
            return &site;
    return nullptr;
}

QStringList Use(QList<Site>& sites, const Site& site)
{
    Forget(sites, site.Destination);
    sites.prepend(site);
    sites.front().Destination = site.Destination.trimmed();
    QStringList dropped;
    while (sites.size() > MostSites)
        dropped << sites.takeLast().Destination;
    return dropped;
}

bool Forget(QList<Site>& sites, const QString& destination)
{
    const QString wanted = destination.trimmed();
    return sites.removeIf([&](const Site& site) { return site.Destination == wanted; }) > 0;
}

}  // namespace PublishSites
