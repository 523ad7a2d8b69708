// A web folder for trying the player movies in a browser, laid out as the
// program folder's html/: the movies, flvs/ with clips converted by the
// program's converter, and the site page as "Generate Player" writes it,
// which loads Ruffle itself as it does for a visitor. Served on the loopback
// interface, with the program folder's Ruffle mounted at /ruffle/.
#pragma once

#include "app/HtmlServer.h"

#include <QColor>
#include <QRect>
#include <QString>

class BrowserTab;
struct PlayerPageSettings;

class PlayerSite {
public:
    // folder: an empty folder for the site; programFolder: the build's
    // program folder, with the movies in html/ and the converter conv;
    // ruffleFolder: the Ruffle files (the program folder's html/ruffle/).
    PlayerSite(const QString& folder, const QString& programFolder, const QString& ruffleFolder);

    // Copies the movies and starts serving; on failure returns false with
    // the reason in error.
    bool Start(QString* error);
    // html/flvs/<name>: the video converted by conv with the program's
    // converter command line.
    bool ConvertClip(const QString& video, const QString& name, QString* error);
    // html/SitePage.html for these settings.
    bool WritePage(const PlayerPageSettings& settings);

    QString HtmlFolder() const { return html; }
    QString Url(const QString& path) const { return server.Url(path); }
    QString PageUrl() const { return server.Url("/SitePage.html"); }

    // Viewport that shows the page with the largest player whole.
    static QSize Viewport() { return {720, 660}; }

private:
    QString html;
    QString program;
    HtmlServer server;
};

// The helpers below look at the Ruffle player of the tab's page, or of the
// page in its frame when it shows one (as the preview does).

// Where the player lies, in viewport pixels; an empty rectangle while there
// is none.
QRect FramedPlayerRect(BrowserTab& tab);
// The text of Ruffle's error panel over the player; empty when none.
QString FramedPanicText(BrowserTab& tab);

// What Ruffle shows of its own over the player.
struct RuffleState {
    bool Loaded = false;         // the movie is loaded
    bool UnmuteOverlay = false;  // "Click to unmute", over the whole player
    bool Splash = false;         // Ruffle's splash (its logo and load bar)
    bool PlayButton = false;     // Ruffle's own play button, over the whole player
};
RuffleState FramedRuffleState(BrowserTab& tab);
// Ruffle's unmute overlay is black at 70% opacity: a colour as seen through it.
QRgb BehindUnmuteOverlay(QRgb color);
