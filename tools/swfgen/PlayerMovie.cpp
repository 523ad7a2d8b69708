#include "swfgen/PlayerMovie.h"

#include "swfgen/Script.h"

#include <algorithm>

namespace swf {

PlayerLayout LayoutPlayer(const PlayerSize& size)
{
    // Under the video: a progress bar, then the buttons with the time beside
    // them, then the link caption; the block is centred in the space the
    // stage leaves below the video.
    const int controlsTop = size.videoHeight + 2;
    const int blockHeight = 56;
    const int top = controlsTop + std::max(0, (size.stageHeight - controlsTop - blockHeight) / 2);
    const int innerWidth = size.stageWidth - 10;
    PlayerLayout layout;
    layout.video = {1, 1, size.videoWidth, size.videoHeight};
    layout.progress = {5, top + 5, innerWidth, 6};
    layout.playButton = {5, top + 16, 28, 20};
    layout.stopButton = {37, top + 16, 28, 20};
    layout.time = {69, top + 18, size.stageWidth - 74, 17};
    layout.caption = {5, top + 39, innerWidth, 17};
    return layout;
}

namespace {

using namespace script;

// Instance names shared by the display list and the script.
const char* const VideoName = "video";
const char* const ProgressName = "progress";
const char* const FillName = "fill";
const char* const PlayButtonName = "playButton";
const char* const StopButtonName = "stopButton";
const char* const FaceName = "face";
const char* const PlayIconName = "playIcon";
const char* const PauseIconName = "pauseIcon";
const char* const StopIconName = "stopIcon";
const char* const TimeName = "timeText";
const char* const LinkName = "link";
const char* const LabelName = "label";

enum Character : std::uint16_t {
    FontId = 1,
    BackgroundShape,
    VideoFrameShape,
    VideoId,
    TrackShape,
    FillShape,
    FillSprite,
    ProgressSprite,
    ButtonEdgeShape,
    FaceShape,
    FaceSprite,
    PlayIconShape,
    PlayIconSprite,
    PauseIconShape,
    PauseIconSprite,
    StopIconShape,
    StopIconSprite,
    PlayButtonSprite,
    StopButtonSprite,
    TimeText,
    CaptionText,
    CaptionHitShape,
    LinkSprite,
};

constexpr int FontHeight = Twips(11);

Rect TwipRect(int x, int y, int width, int height)
{
    return {Twips(x), Twips(x + width), Twips(y), Twips(y + height)};
}

Point TwipPoint(int x, int y)
{
    return {Twips(x), Twips(y)};
}

Bytes Shape(std::uint16_t id, std::uint32_t rgb, const std::vector<Outline>& outlines)
{
    return DefineShape3(id, RgbFromHex(rgb), outlines);
}

Bytes Sprite(std::uint16_t id, std::uint16_t shape)
{
    return DefineSprite(id, {PlaceObject2({1, shape, {}, {}})});
}

Bytes Place(std::uint16_t depth, std::uint16_t character, const Box& box, const std::string& name = {})
{
    return PlaceObject2({depth, character, TwipPoint(box.x, box.y), name});
}

// Functions the rest of the script calls.
Block HelperFunctions()
{
    const Expr ns = Var("ns");
    const Expr playButton = Var(PlayButtonName);
    auto startsWith = [](Expr text, const char* prefix) {
        return Equals(Method(text, "indexOf", {Str(prefix)}), Num(0));
    };
    return {
        // A missing variable reads as the empty text.
        Set("textOf", Function({"value"},
                               {
                                   If(Equals(Var("value"), Undefined()), {Return(Str(""))}),
                                   Return(Call("String", {Var("value")})),
                               })),
        // A count of seconds, or the fallback for an empty, negative or
        // non-numeric text.
        Set("numberOr", Function({"text", "fallback"},
                                 {
                                     Local("s", Call("textOf", {Var("text")})),
                                     Local("n", Call("Number", {Var("s")})),
                                     If(Or(Equals(Var("s"), Str("")),
                                           Or(Call("isNaN", {Var("n")}), Less(Var("n"), Num(0)))),
                                        {Return(Var("fallback"))}),
                                     Return(Var("n")),
                                 })),
        // RRGGBB in hexadecimal digits of either case, or the fallback.
        Set("colorOr",
            Function({"text", "fallback"},
                     {
                         Local("s", Call("textOf", {Var("text")})),
                         If(Not(Equals(Member(Var("s"), "length"), Num(6))), {Return(Var("fallback"))}),
                         Local("value", Num(0)),
                         Local("i", Num(0)),
                         While(Less(Var("i"), Num(6)),
                               {
                                   Local("d", Method(Str("0123456789abcdef0123456789ABCDEF"), "indexOf",
                                                     {Method(Var("s"), "charAt", {Var("i")})})),
                                   If(Less(Var("d"), Num(0)), {Return(Var("fallback"))}),
                                   Set("value", Var("value") * Num(16) + Var("d") % Num(16)),
                                   Set("i", Var("i") + Num(1)),
                               }),
                         Return(Var("value")),
                     })),
        // Only web and mail addresses open; a bare host name is taken as a
        // web address. Anything else (javascript: and the like) opens nothing.
        Set("linkTarget",
            Function({"text"},
                     {
                         Local("lower", Method(Var("text"), "toLowerCase", {})),
                         If(Or(startsWith(Var("lower"), "http://"),
                               Or(startsWith(Var("lower"), "https://"), startsWith(Var("lower"), "mailto:"))),
                            {Return(Var("text"))}),
                         If(And(Not(Equals(Var("text"), Str(""))),
                                Less(Method(Var("text"), "indexOf", {Str(":")}), Num(0))),
                            {Return(Str("http://") + Var("text"))}),
                         Return(Str("")),
                     })),
        // A path of backslash-separated pieces as a relative address, each
        // piece escaped: a clip named with #, ? or % is still asked for by
        // its own name.
        Set("clipAddress",
            Function({"path"},
                     {
                         Local("pieces", Method(Var("path"), "split", {Str("\\")})),
                         Local("address", Str("")),
                         Local("separator", Str("")),
                         While(Greater(Member(Var("pieces"), "length"), Num(0)),
                               {
                                   Set("address", Var("address") + Var("separator") +
                                                      Call("escape", {Method(Var("pieces"), "shift", {})})),
                                   Set("separator", Str("/")),
                               }),
                         Return(Var("address")),
                     })),
        // m:ss
        Set("clock", Function({"seconds"},
                              {
                                  Local("whole", Method(Var("Math"), "floor", {Var("seconds")})),
                                  Local("s", Var("whole") % Num(60)),
                                  Return(Method(Var("Math"), "floor", {Var("whole") / Num(60)}) + Str(":") +
                                         Choose(Less(Var("s"), Num(10)), Str("0"), Str("")) + Var("s")),
                              })),
        Set("showPlaying",
            Function({"flag"},
                     {
                         Set("playing", Var("flag")),
                         SetMember(Member(playButton, PlayIconName), "_visible", Not(Var("flag"))),
                         SetMember(Member(playButton, PauseIconName), "_visible", Var("flag")),
                     })),
        // Back to the state before the first play, saying why.
        Set("clipNotFound", Function({},
                                     {
                                         Do(Method(ns, "close", {})),
                                         Set("started", Bool(false)),
                                         SetMember(Var(VideoName), "_visible", Bool(false)),
                                         Do(Call("showPlaying", {Bool(false)})),
                                         Set("message", Str("Clip not found")),
                                     })),
        Set("milliseconds", Function({}, {Return(Method(New("Date", {}), "getTime", {}))})),
        Set("rewind", Function({},
                               {
                                   Do(Method(ns, "pause", {Bool(true)})),
                                   Do(Method(ns, "seek", {Num(0)})),
                                   Do(Call("showPlaying", {Bool(false)})),
                               })),
    };
}

Block SettingsAndColors()
{
    const Expr playButton = Var(PlayButtonName);
    const Expr stopButton = Var(StopButtonName);
    const Expr rgb = Var("buttonRgb");
    auto paint = [](Expr clip, Expr color) { return Do(Method(New("Color", {clip}), "setRGB", {color})); };
    const int luma = PlayerColors::IconContrastLuma * 1000;
    return {
        // The page's settings. The page writes the clip as flvs\name.flv.
        Set("streamUrl", Call("clipAddress", {Call("textOf", {Var("file")})})),
        Set("lengthSec", Call("numberOr", {Var("clipLength"), Num(0)})),
        Set("bufferSec", Call("numberOr", {Var("bufferTime"), Num(DefaultBufferSeconds)})),
        Set("buttonRgb", Call("colorOr", {Var("buttonColor"), Num(PlayerColors::DefaultButton)})),
        Set("linkAddress", Call("linkTarget", {Call("textOf", {Var("webPage")})})),
        Set("started", Bool(false)),
        Set("playing", Bool(false)),
        Set("message", Str("")),

        // Buttons and bar in the chosen colour, icons in black or white,
        // whichever stands out.
        Set("iconRgb", Choose(Greater((rgb >> Num(16)) * Num(299) + ((rgb >> Num(8)) & Num(255)) * Num(587) +
                                          (rgb & Num(255)) * Num(114),
                                      Num(luma)),
                              Num(PlayerColors::DarkIcon), Num(PlayerColors::LightIcon))),
        paint(Member(playButton, FaceName), rgb),
        paint(Member(stopButton, FaceName), rgb),
        paint(Member(Var(ProgressName), FillName), rgb),
        paint(Member(playButton, PlayIconName), Var("iconRgb")),
        paint(Member(playButton, PauseIconName), Var("iconRgb")),
        paint(Member(stopButton, StopIconName), Var("iconRgb")),
    };
}

Block Playback()
{
    const Expr ns = Var("ns");
    const Expr playButton = Var(PlayButtonName);
    const Expr stopButton = Var(StopButtonName);
    return {
        // Progressive download: a NetStream over a null connection.
        Set("nc", New("NetConnection", {})),
        Do(Method(Var("nc"), "connect", {Null()})),
        Set("ns", New("NetStream", {Var("nc")})),
        Do(Method(ns, "setBufferTime", {Var("bufferSec")})),
        Do(Method(Var(VideoName), "attachVideo", {ns})),
        // Hidden until the first play: before that it has no frame to draw.
        SetMember(Var(VideoName), "_visible", Bool(false)),
        SetMember(ns, "onStatus",
                  Function({"info"},
                           {
                               If(Equals(Member(Var("info"), "code"), Str("NetStream.Play.Stop")),
                                  {Do(Call("rewind", {}))}),
                               If(Equals(Member(Var("info"), "code"), Str("NetStream.Play.StreamNotFound")),
                                  {Do(Call("clipNotFound", {}))}),
                           })),
        // Without a usable clipLength the clip's own duration drives the bar.
        SetMember(ns, "onMetaData",
                  Function({"info"},
                           {
                               Set("clipArrived", Bool(true)),
                               If(And(Not(Greater(Var("lengthSec"), Num(0))),
                                      Greater(Member(Var("info"), "duration"), Num(0))),
                                  {Set("lengthSec", Member(Var("info"), "duration"))}),
                           })),

        SetMember(playButton, "onRelease",
                  Function({},
                           {
                               If(Equals(Var("streamUrl"), Str("")),
                                  {Set("message", Str("Clip not found")), Return(Undefined())}),
                               If(Not(Var("started")),
                                  {
                                      Set("started", Bool(true)),
                                      Set("clipArrived", Bool(false)),
                                      Set("waitingSince", Call("milliseconds", {})),
                                      Set("message", Str("")),
                                      SetMember(Var(VideoName), "_visible", Bool(true)),
                                      Do(Method(ns, "play", {Var("streamUrl")})),
                                      Do(Call("showPlaying", {Bool(true)})),
                                  },
                                  {If(Var("playing"),
                                      {
                                          Do(Method(ns, "pause", {Bool(true)})),
                                          Do(Call("showPlaying", {Bool(false)})),
                                      },
                                      {
                                          Do(Method(ns, "pause", {Bool(false)})),
                                          Do(Call("showPlaying", {Bool(true)})),
                                      })}),
                           })),
        SetMember(stopButton, "onRelease", Function({}, {If(Var("started"), {Do(Call("rewind", {}))})})),
    };
}

Block Link()
{
    return {
        // The link caption, underlined, opening the address in a new window.
        SetMember(Var(LinkName), "_visible", Equals(Var("isLink"), Str("1"))),
        SetMember(Member(Var(LinkName), LabelName), "text", Call("textOf", {Var("linkCaption")})),
        Set("captionFormat", New("TextFormat", {})),
        SetMember(Var("captionFormat"), "underline", Bool(true)),
        Do(Method(Member(Var(LinkName), LabelName), "setTextFormat", {Var("captionFormat")})),
        SetMember(Var(LinkName), "useHandCursor", Not(Equals(Var("linkAddress"), Str("")))),
        SetMember(Var(LinkName), "onRelease",
                  Function({},
                           {
                               If(Not(Equals(Var("linkAddress"), Str(""))),
                                  {GetUrl(Var("linkAddress"), Str("_blank"))}),
                           })),
    };
}

Block ProgressAndStart()
{
    const Expr ns = Var("ns");
    const Expr playButton = Var(PlayButtonName);
    return {
        Set("onEnterFrame",
            Function({},
                     {
                         If(And(Var("started"), Not(Var("clipArrived"))),
                            {If(Or(Greater(Member(ns, "bytesLoaded"), Num(0)),
                                   Greater(Member(ns, "time"), Num(0))),
                                {Set("clipArrived", Bool(true))},
                                {If(Greater(Call("milliseconds", {}) - Var("waitingSince"),
                                            Num(ClipWaitSeconds * 1000)),
                                    {Do(Call("clipNotFound", {}))})})}),
                         Local("now", Choose(Var("started"), Member(ns, "time"), Num(0))),
                         If(Not(Greater(Var("now"), Num(0))), {Set("now", Num(0))}),
                         Local("part", Num(0)),
                         If(Greater(Var("lengthSec"), Num(0)), {Set("part", Var("now") / Var("lengthSec"))}),
                         If(Greater(Var("part"), Num(1)), {Set("part", Num(1))}),
                         SetMember(Member(Var(ProgressName), FillName), "_xscale", Var("part") * Num(100)),
                         Local("shown", Call("clock", {Var("now")})),
                         If(Greater(Var("lengthSec"), Num(0)),
                            {Set("shown", Var("shown") + Str(" / ") + Call("clock", {Var("lengthSec")}))}),
                         If(Not(Equals(Var("message"), Str(""))), {Set("shown", Var("message"))}),
                         SetMember(Var(TimeName), "text", Var("shown")),
                     })),

        Do(Call("showPlaying", {Bool(false)})),
        If(Equals(Var("autoStart"), Str("1")), {Do(Method(playButton, "onRelease", {}))}),
    };
}

// The frame script: reads the eight player variables from the timeline,
// colours the buttons, wires them to a NetStream that plays the clip, and
// keeps the progress bar and time up to date.
Bytes PlayerScript()
{
    ActionWriter out;
    for (const Block& part :
         {Block{Stop()}, HelperFunctions(), SettingsAndColors(), Playback(), Link(), ProgressAndStart()})
        EmitBlock(out, part);
    return out.Finish();
}

std::vector<Bytes> Definitions(const PlayerSize& size, const PlayerLayout& layout)
{
    const int w = size.stageWidth;
    const Box button = layout.playButton;
    std::vector<Bytes> tags;
    tags.push_back(DefineDeviceFont(FontId, "_sans"));
    tags.push_back(Shape(BackgroundShape, PlayerColors::Background,
                         {RectangleOutline(TwipRect(0, 0, w, size.stageHeight))}));
    tags.push_back(Shape(VideoFrameShape, PlayerColors::VideoFrame,
                         {RectangleOutline(TwipRect(0, 0, w, size.videoHeight + 2))}));
    tags.push_back(DefineVideoStream(VideoId, size.videoWidth, size.videoHeight, VideoCodec::SorensonH263));

    // Progress: a track, and over it a fill scaled from 0 to 100 % of its width.
    const Rect track = TwipRect(0, 0, layout.progress.width, layout.progress.height);
    tags.push_back(Shape(TrackShape, PlayerColors::Track, {RectangleOutline(track)}));
    tags.push_back(Shape(FillShape, 0xFFFFFF, {RectangleOutline(track)}));
    tags.push_back(Sprite(FillSprite, FillShape));
    tags.push_back(DefineSprite(ProgressSprite, {PlaceObject2({1, TrackShape, {}, {}}),
                                                 PlaceObject2({2, FillSprite, {}, FillName})}));

    // Buttons: a grey edge, a white face the script tints, a white icon.
    tags.push_back(Shape(ButtonEdgeShape, PlayerColors::ButtonEdge,
                         {RoundedRectangleOutline(TwipRect(0, 0, button.width, button.height), Twips(4))}));
    tags.push_back(
        Shape(FaceShape, 0xFFFFFF,
              {RoundedRectangleOutline(TwipRect(1, 1, button.width - 2, button.height - 2), Twips(3))}));
    tags.push_back(Sprite(FaceSprite, FaceShape));
    const int cx = button.width / 2, cy = button.height / 2;
    tags.push_back(Shape(
        PlayIconShape, 0xFFFFFF,
        {PolygonOutline({TwipPoint(cx - 3, cy - 5), TwipPoint(cx + 5, cy), TwipPoint(cx - 3, cy + 5)})}));
    tags.push_back(Sprite(PlayIconSprite, PlayIconShape));
    tags.push_back(Shape(PauseIconShape, 0xFFFFFF,
                         {RectangleOutline(TwipRect(cx - 4, cy - 5, 3, 10)),
                          RectangleOutline(TwipRect(cx + 1, cy - 5, 3, 10))}));
    tags.push_back(Sprite(PauseIconSprite, PauseIconShape));
    tags.push_back(Shape(StopIconShape, 0xFFFFFF, {RectangleOutline(TwipRect(cx - 5, cy - 5, 10, 10))}));
    tags.push_back(Sprite(StopIconSprite, StopIconShape));
    tags.push_back(DefineSprite(PlayButtonSprite, {PlaceObject2({1, ButtonEdgeShape, {}, {}}),
                                                   PlaceObject2({2, FaceSprite, {}, FaceName}),
                                                   PlaceObject2({3, PlayIconSprite, {}, PlayIconName}),
                                                   PlaceObject2({4, PauseIconSprite, {}, PauseIconName})}));
    tags.push_back(DefineSprite(StopButtonSprite, {PlaceObject2({1, ButtonEdgeShape, {}, {}}),
                                                   PlaceObject2({2, FaceSprite, {}, FaceName}),
                                                   PlaceObject2({3, StopIconSprite, {}, StopIconName})}));

    tags.push_back(
        DefineEditText({TimeText, TwipRect(0, 0, layout.time.width, layout.time.height), FontId, FontHeight,
                        RgbFromHex(PlayerColors::Time), EditText::Align::Right, "0:00"}));

    // The caption sits in a clip that takes the clicks; a transparent box
    // behind the text makes the whole line clickable.
    tags.push_back(DefineEditText({CaptionText,
                                   TwipRect(0, 0, layout.caption.width, layout.caption.height),
                                   FontId,
                                   FontHeight,
                                   RgbFromHex(PlayerColors::Caption),
                                   EditText::Align::Center,
                                   {}}));
    tags.push_back(
        DefineShape3(CaptionHitShape, {255, 255, 255, 0},
                     {RectangleOutline(TwipRect(0, 0, layout.caption.width, layout.caption.height))}));
    tags.push_back(DefineSprite(LinkSprite, {PlaceObject2({1, CaptionHitShape, {}, {}}),
                                             PlaceObject2({2, CaptionText, {}, LabelName})}));
    return tags;
}

}  // namespace

Bytes PlayerMovie(const PlayerSize& size)
{
    const PlayerLayout layout = LayoutPlayer(size);
    std::vector<Bytes> tags;
    tags.push_back(FileAttributes(true));
    tags.push_back(SetBackgroundColor(RgbFromHex(PlayerColors::Background)));
    for (Bytes& tag : Definitions(size, layout))
        tags.push_back(std::move(tag));
    tags.push_back(Place(1, BackgroundShape, {0, 0, 0, 0}));
    tags.push_back(Place(2, VideoFrameShape, {0, 0, 0, 0}));
    tags.push_back(Place(3, VideoId, layout.video, VideoName));
    tags.push_back(Place(4, ProgressSprite, layout.progress, ProgressName));
    tags.push_back(Place(5, PlayButtonSprite, layout.playButton, PlayButtonName));
    tags.push_back(Place(6, StopButtonSprite, layout.stopButton, StopButtonName));
    tags.push_back(Place(7, TimeText, layout.time, TimeName));
    tags.push_back(Place(8, LinkSprite, layout.caption, LinkName));
    // Frame actions run once the frame's display list is in place.
    tags.push_back(DoAction(PlayerScript()));
    tags.push_back(ShowFrame());
    return MovieFile({8, size.stageWidth, size.stageHeight, 25}, tags);
}

}  // namespace swf
