// A web folder for trying the player movies in a browser, laid out as the
// program folder's html/: the movies, flvs/ with clips converted by the
// program's converter, the written page, and a harness page that loads
// self-hosted Ruffle and then shows the page, unchanged, in a frame (Ruffle
// takes over same-origin frames itself). Served on the loopback interface,
// with the program folder's Ruffle mounted at /ruffle/.
#pragma once

#include "app/HtmlServer.h"

#include <QRect>
#include <QString>

#include <string>

class BrowserTab;

class PlayerSite {
public:
    // folder: an empty folder for the site; programFolder: the build's
    // program folder, with the movies in html/ and the converter conv;
    // ruffleFolder: the Ruffle files (the program folder's html/ruffle/).
    PlayerSite(const QString& folder, const QString& programFolder, const QString& ruffleFolder);

    // Copies the movies, writes the harness and starts serving; on failure
    // returns false with the reason in error.
    bool Start(QString* error);
    // html/flvs/<name>: the video converted by conv with the program's
    // converter command line.
    bool ConvertClip(const QString& video, const QString& name, QString* error);
    // html/TempHtml.html
    bool WritePage(const std::string& text);

    QString HtmlFolder() const { return html; }
    QString Url(const QString& path) const { return server.Url(path); }
    QString HarnessUrl() const { return server.Url("/harness.html"); }

    // Viewport that shows the harness with the largest player whole.
    static QSize Viewport() { return {720, 660}; }

private:
    QString html;
    QString program;
    HtmlServer server;
};

// Where the Ruffle player of the framed page lies, in viewport pixels; an
// empty rectangle while there is none.
QRect FramedPlayerRect(BrowserTab& tab);
// The text of Ruffle's error panel over the framed player; empty when none.
QString FramedPanicText(BrowserTab& tab);
