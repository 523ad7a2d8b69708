#pragma once

#include "base/PlayerSizes.h"

#include <array>
#include <string>

// Seconds of buffer for the four choices "2 sec", "3 sec", "5 sec", "8 sec".
extern const std::array<const char*, 4> BufferTimes;

// Everything the page is made of, as the settings window and the conversion
// give it.
struct PlayerPageSettings {
    PlayerSize Size;
    std::string ClipFile;     // the clip's file name in html/flvs/
    std::string ClipLength;   // whole seconds
    std::string ButtonColor;  // RRGGBB
    std::string BufferTime;   // seconds
    std::string AutoStart;    // "1" or empty
    std::string IsLink;       // "1" or "0"
    std::string LinkCaption;
    std::string WebPage;
};

// A value as it goes into the player variables: control bytes, DEL, bytes
// from 0x80 up and " # % & ' + < > \ become %XX, so that no value can end
// the attribute it stands in or cut the variables short.
std::string EncodePlayerValue(const std::string& value);

// The player variables: file, clipLength, buttonColor, bufferTime,
// autoStart, isLink, linkCaption and webPage, in that order.
std::string PlayerVariables(const PlayerPageSettings& settings);

// The whole page: four lines, each ended by CR LF.
std::string PlayerPageText(const PlayerPageSettings& settings);

// Ruffle's configuration for the player page, as a JavaScript object. The
// movie always starts (no Ruffle splash, no Ruffle play button): with
// autostart it plays at once, muted where the browser wants a click first,
// under Ruffle's "click to unmute" overlay; without autostart it waits at the
// player's own play button, whose click is also the one that lets sound play.
std::string RuffleConfig(const PlayerPageSettings& settings);

// The page for a web site: the page text with one script element after its
// first line, which sets RuffleConfig and loads ruffle/ruffle.js beside it.
std::string SitePageText(const PlayerPageSettings& settings);
