#include "player/PlayerPage.h"

#include <string_view>

const std::array<const char*, 4> BufferTimes = {"2", "3", "5", "8"};

namespace {

// The plug-in's installation cabinet and the player's download page.
constexpr const char* PluginCabinet =
    "https://download.macromedia.com/pub/shockwave/cabs/flash/swflash.cab#version=7,0,0,0";
constexpr const char* PluginPage = "https://www.macromedia.com/go/getflashplayer";

bool mustEncode(unsigned char byte)
{
    static constexpr std::string_view unsafe = "\"#%&'+<>\\";
    return byte < 0x20 || byte >= 0x7F || unsafe.find(char(byte)) != std::string_view::npos;
}

}  // namespace

std::string EncodePlayerValue(const std::string& value)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(value.size());
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (mustEncode(byte)) {
            encoded += '%';
            encoded += hex[byte >> 4];
            encoded += hex[byte & 0x0F];
        } else {
            encoded += c;
        }
    }
    return encoded;
}

std::string PlayerVariables(const PlayerPageSettings& settings)
{
    return "file=flvs\\" + EncodePlayerValue(settings.ClipFile) +
           "&clipLength=" + EncodePlayerValue(settings.ClipLength) +
           "&buttonColor=" + EncodePlayerValue(settings.ButtonColor) +
           "&bufferTime=" + EncodePlayerValue(settings.BufferTime) +
           "&autoStart=" + EncodePlayerValue(settings.AutoStart) +
           "&isLink=" + EncodePlayerValue(settings.IsLink) +
           "&linkCaption=" + EncodePlayerValue(settings.LinkCaption) +
           "&webPage=" + EncodePlayerValue(settings.WebPage);
}

std::string PlayerPageText(const PlayerPageSettings& settings)
{
    const std::string variables = PlayerVariables(settings);
    const std::string width = std::to_string(settings.Size.stageWidth);
    const std::string height = std::to_string(settings.Size.stageHeight);
    const std::string movie = PlayerMovieName(settings.Size);
    const std::string name = PlayerName(settings.Size);

    std::string player;
    player += "<object classid=\"clsid:d27cdb6e-ae6d-11cf-96b8-444553540000\" ";
    player += "codebase=\"";
    player += PluginCabinet;
    player += "\" width=\"" + width;
    player += "\" height=\"" + height;
    player += "\" id=\"" + name;
    player += "\" align=\"middle\"> ";
    player += "<param name=\"allowScriptAccess\" value=\"sameDomain\" /> ";
    player += "<param name=\"movie\" value=\"" + movie;
    player += "\" /> ";
    player += "<param name=\"FlashVars\" value=\"" + variables;
    player += "\" />";
    player += "<param name=\"quality\" value=\"high\" /> ";
    player += "<param name=\"bgcolor\" value=\"#ffffff\" /> ";
    player += "<embed src=\"" + movie;
    player += "?" + variables;
    player += "\" quality=\"high\" bgcolor=\"#ffffff\" width=\"" + width;
    player += "\" height=\"" + height;
    player += "\" name=\"" + name;
    player += "\" ";
    player += "align=\"middle\" allowScriptAccess=\"sameDomain\" type=\"application/x-shockwave-flash\" ";
    player += "pluginspage=\"";
    player += PluginPage;
    player += "\" /> </object>";

    std::string page;
    page += "<html> <body>\r\n";
    page += "<br>\r\n";
    page += player + "\r\n";
    page += "</body> </html>\r\n";
    return page;
}

std::string RuffleConfig(const PlayerPageSettings& settings)
{
    // An overlay over a player that waits for its play button would hide it
    // and eat the click. The 2D canvas draws these few shapes and a video
    // everywhere; with WebGL on a computer without a graphics driver Ruffle
    // opens a "hardware acceleration" notice over the player.
    const bool autoStart = settings.AutoStart == "1";
    return std::string("{autoplay: \"on\", splashScreen: false, unmuteOverlay: \"") +
           (autoStart ? "visible" : "hidden") + "\", preferredRenderer: \"canvas\"}";
}

std::string SitePageText(const PlayerPageSettings& settings)
{
    // Ruffle reads its configuration when it meets the player, so it is set
    // before Ruffle is loaded; a Ruffle the browser brings keeps its own
    // object and takes the settings.
    const std::string script =
        "<script>(window.RufflePlayer = window.RufflePlayer || {}).config = " + RuffleConfig(settings) +
        "; document.head.appendChild(Object.assign(document.createElement(\"script\"), "
        "{src: \"ruffle/ruffle.js\"}));</script>\r\n";
    std::string page = PlayerPageText(settings);
    page.insert(page.find('\n') + 1, script);
    return page;
}
