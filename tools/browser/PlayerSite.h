// A web folder for trying the player movies in a browser: html/ with the
// movies, flvs/ with clips made by ffmpeg, the written page and a harness
// page that loads self-hosted Ruffle and then shows the page, unchanged, in a
// frame (Ruffle takes over same-origin frames itself). Served on the loopback
// interface, with Ruffle's npm package mounted at /ruffle/.
#pragma once

#include "browser/LoopbackFileServer.h"

#include <QRect>
#include <QString>

#include <string>

class BrowserTab;

class PlayerSite {
public:
    // folder: an empty folder for the site; movieFolder: where the build
    // wrote the player movies; ruffleFolder: the @ruffle-rs/ruffle package.
    PlayerSite(const QString& folder, const QString& movieFolder, const QString& ruffleFolder);

    // Copies the movies, writes the harness and starts serving; on failure
    // returns false with the reason in error.
    bool Start(QString* error);
    // html/flvs/<name>: an FLV as the converter makes it (Sorenson H.263 at
    // 240 x 180, MP3 at 22050 Hz) from an ffmpeg lavfi video description,
    // with a tone for sound.
    bool MakeClip(const QString& name, const QString& lavfiVideo, int seconds, QString* error);
    // html/TempHtml.html
    bool WritePage(const std::string& text);

    QString HtmlFolder() const { return html; }
    QString Url(const QString& path) const { return server.Url(path); }
    QString HarnessUrl() const { return server.Url("/harness.html"); }
    const QStringList& Requests() const { return server.Requests(); }

    // Viewport that shows the harness with the largest player whole.
    static QSize Viewport() { return {720, 660}; }

private:
    QString html;
    QString movies;
    LoopbackFileServer server;
};

// Where the Ruffle player of the framed page lies, in viewport pixels; an
// empty rectangle while there is none.
QRect FramedPlayerRect(BrowserTab& tab);
// The text of Ruffle's error panel over the framed player; empty when none.
QString FramedPanicText(BrowserTab& tab);
