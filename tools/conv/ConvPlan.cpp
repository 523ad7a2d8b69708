#include "ConvPlan.h"

#include <algorithm>
#include <charconv>

namespace Conv {

namespace {

bool parseInt(const std::string& text, int& value)
{
    const char* end = text.data() + text.size();
    const auto [rest, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && rest == end;
}

bool parseFrameSize(const std::string& text, int& width, int& height)
{
    const auto x = text.find('x');
    if (x == std::string::npos || !parseInt(text.substr(0, x), width) ||
        !parseInt(text.substr(x + 1), height))
        return false;
    // Even sizes for the 4:2:0 picture; the bound keeps typing slips out.
    return width >= 16 && height >= 16 && width <= 4096 && height <= 4096 && width % 2 == 0 &&
           height % 2 == 0;
}

}  // namespace

std::variant<Request, UsageError> ParseArguments(const std::vector<std::string>& arguments)
{
    Request request;
    bool haveInput = false;
    bool haveOutput = false;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool takesValue =
            argument == "-i" || argument == "-vcodec" || argument == "-acodec" || argument == "-s";
        if (!optionsEnded && takesValue) {
            if (i + 1 == arguments.size())
                return UsageError{"option " + argument + " needs a value"};
            const std::string& value = arguments[++i];
            if (argument == "-i") {
                request.Input = value;
                haveInput = true;
            } else if (argument == "-vcodec" && value != "flv") {
                return UsageError{"only -vcodec flv is supported"};
            } else if (argument == "-acodec" && value != "mp3") {
                return UsageError{"only -acodec mp3 is supported"};
            } else if (argument == "-s" && !parseFrameSize(value, request.Width, request.Height)) {
                return UsageError{"-s wants an even frame size such as 240x180"};
            }
        } else if (!optionsEnded && argument == "-y") {
            request.Overwrite = true;
        } else if (!optionsEnded && argument == "--") {
            optionsEnded = true;
        } else if (haveOutput) {
            return UsageError{"more than one output file given"};
        } else {
            // Anything else is the output, even a name that starts with '-'.
            request.Output = argument;
            haveOutput = true;
        }
    }
    if (!haveInput)
        return UsageError{"no input file given (-i INPUT)"};
    if (!haveOutput)
        return UsageError{"no output file given"};
    if (request.Input.empty() || request.Output.empty())
        return UsageError{"empty file name"};
    return request;
}

InputFacts ChooseStreams(const std::vector<StreamFacts>& streams, double durationSeconds,
                         std::int64_t sizeBytes)
{
    InputFacts facts;
    facts.SizeBytes = sizeBytes;
    facts.DurationSeconds = std::max(0.0, durationSeconds);
    for (const StreamFacts& stream : streams) {
        if (stream.Index < 0)
            continue;
        // Cover art of an audio file is a "video" stream of one picture.
        if (stream.Type == StreamType::Video && !stream.AttachedPicture && facts.VideoStream < 0) {
            facts.VideoStream = stream.Index;
            facts.VideoCodec = stream.Codec;
            facts.PixelFormat = stream.PixelFormat;
            facts.Width = std::max(stream.Width, 0);
            facts.Height = std::max(stream.Height, 0);
            facts.FrameRate = std::max(stream.FrameRate, 0.0);
        } else if (stream.Type == StreamType::Audio && facts.AudioStream < 0 && stream.SampleRate > 0) {
            facts.AudioStream = stream.Index;
            facts.SampleRate = stream.SampleRate;
            facts.Channels = stream.Channels;
        }
    }
    return facts;
}

namespace {

// Target share of the input's size. FLV1's one-pass rate control overshoots
// short clips by up to a fifth, which still leaves the result clear of 2x.
constexpr double kTargetShare = 1.25;
// FLV tag headers: about 16 bytes for each of ~30 video and ~38 audio packets a second.
constexpr int kContainerKbps = 8;
constexpr int kMinVideoKbps = 64;
constexpr int kMaxVideoKbps = 800;
constexpr int kMinAudioKbps = 32;
constexpr int kMaxAudioKbps = 128;
// Below the usual floors, for inputs of under ~80 kbit/s: speech-grade audio,
// fewer frames.
constexpr int kLeanVideoKbps = 24;
constexpr int kLeanAudioKbps = 16;

// The largest MP3 bit rate valid at every FLV sampling rate that is not above kbps.
int mp3RateAtMost(double kbps)
{
    constexpr int rates[] = {128, 112, 96, 80, 64, 56, 48, 40, 32};
    for (int rate : rates)
        if (rate <= kbps)
            return rate;
    return kMinAudioKbps;
}

// FLV knows MP3 at 44100, 22050 and 11025 Hz only.
int flvSampleRate(int inputRate)
{
    if (inputRate >= 44100)
        return 44100;
    if (inputRate >= 22050)
        return 22050;
    return 11025;
}

}  // namespace

Settings ChooseSettings(const InputFacts& facts)
{
    const bool audio = facts.AudioStream >= 0;
    double budgetKbps = 0;  // unknown length: the lowest settings
    if (facts.SizeBytes > 0 && facts.DurationSeconds > 0)
        budgetKbps = facts.SizeBytes * 8 / 1000.0 / facts.DurationSeconds * kTargetShare - kContainerKbps;
    const bool lean = budgetKbps < kMinVideoKbps + (audio ? kMinAudioKbps : 0);

    Settings settings;
    if (audio) {
        settings.SampleRate = flvSampleRate(facts.SampleRate);
        if (lean) {
            // MP3 below 32 kbit/s exists only at the lower rates.
            settings.SampleRate = std::min(settings.SampleRate, 22050);
            settings.AudioKbps = kLeanAudioKbps;
        } else {
            settings.AudioKbps = std::clamp(mp3RateAtMost(budgetKbps / 5), kMinAudioKbps, kMaxAudioKbps);
        }
        if (settings.SampleRate == 11025)
            settings.AudioKbps = std::min(settings.AudioKbps, 64);
        settings.Channels = facts.Channels >= 2 && settings.AudioKbps >= 64 ? 2 : 1;
    }
    const int videoKbps = static_cast<int>(std::min(budgetKbps, 1e6)) - settings.AudioKbps;
    settings.VideoKbps = lean ? std::clamp(videoKbps, kLeanVideoKbps, kMinVideoKbps)
                              : std::clamp(videoKbps, kMinVideoKbps, kMaxVideoKbps);
    // About 4 kbit a frame at the least; fewer frames rather than a picture
    // the encoder cannot hold to its rate.
    settings.MaxFps = std::clamp(settings.VideoKbps / 4, 10, 30);
    settings.KeyframeInterval = 5 * settings.MaxFps;
    return settings;
}

int DecoderReduction(const Request& request, const InputFacts& facts)
{
    // ffmpeg's own decoders of these formats can decode at a half, a quarter
    // or an eighth of the size, skipping most of the decoding work and most
    // of the scaling after it.
    static const std::string reducible[] = {"mpeg1video", "mpeg2video", "mpeg4",     "h263", "flv1",
                                            "msmpeg4v1",  "msmpeg4v2",  "msmpeg4v3", "wmv1", "wmv2"};
    if (std::find(std::begin(reducible), std::end(reducible), facts.VideoCodec) == std::end(reducible))
        return 0;
    // The reduced picture still covers the frame, so the scaler only shrinks it.
    int level = 0;
    while (level < 3 && facts.Width >> (level + 1) >= request.Width &&
           facts.Height >> (level + 1) >= request.Height)
        ++level;
    return level;
}

std::vector<std::string> FfmpegArguments(const Request& request, const InputFacts& facts,
                                         const Settings& settings)
{
    const std::string w = std::to_string(request.Width);
    const std::string h = std::to_string(request.Height);
    const std::string frameRatio = w + "/" + h;
    const int reduction = DecoderReduction(request, facts);
    // Frames beyond the cap are dropped before scaling rather than after:
    // scaling a large picture costs more than encoding the small one.
    std::string filters;
    if (facts.FrameRate > settings.MaxFps + 1)
        filters = "fps=" + std::to_string(settings.MaxFps) + ",";
    // Fit the picture into the frame by its display aspect, then pad it:
    // a wide phone clip gets bars instead of being squeezed. Bicubic keeps
    // a large reduction sharp; after the decoder's own reduction the rest is
    // small, and lanczos wins back the detail that reduction softens.
    const std::string size = "w='if(gt(dar," + frameRatio + ")," + w + ",trunc(" + h +
                             "*dar/2)*2)':h='if(gt(dar," + frameRatio + "),trunc(" + w + "/dar/2)*2," + h +
                             ")'";
    const std::string kernel = reduction > 0 ? "lanczos" : "bicubic";
    // zimg shrinks the usual 4:2:0 picture with the same kernel for about
    // half the work of swscale, and in slices on both cores. Its chroma is
    // sited at the centre, where swscale puts it, or the colours would shift
    // by half a pixel against what conv made before. Other picture formats
    // would need a colour matrix that the input may not name: swscale
    // converts and scales those in one step, as it always did.
    if (facts.PixelFormat == "yuv420p")
        filters += "zscale=" + size + ":filter=" + kernel + ":chromalin=center:chromal=center";
    else
        filters += "scale=" + size + ":flags=" + kernel;
    filters += ",pad=" + w + ":" + h + ":(ow-iw)/2:(oh-ih)/2,setsar=1";
    // A buffer of about a second holds the rate close to the mean all along,
    // so the file also stays small while it grows; at the lowest rates it
    // must still hold one whole key frame. The ceiling sits a hair above the
    // mean: equal values make the encoder warn that it "will fail", which it
    // does not.
    const std::string video = std::to_string(settings.VideoKbps * 1000);
    const std::string ceiling = std::to_string(settings.VideoKbps * 1010);
    const std::string buffer = std::to_string(std::max(settings.VideoKbps, 64) * 1000);

    std::vector<std::string> arguments = {"-hide_banner", "-nostdin", "-stats",
                                          request.Overwrite ? "-y" : "-n"};
    if (reduction > 0)
        arguments.insert(arguments.end(), {"-lowres", std::to_string(reduction)});
    // The deblocking filter smooths block edges that a picture shrunk to half
    // its size or less no longer shows; skipping it saves about an eighth of
    // H.264's decoding. Decoders without one ignore the option.
    if (facts.Width >= 2 * request.Width && facts.Height >= 2 * request.Height)
        arguments.insert(arguments.end(), {"-skip_loop_filter", "all"});
    arguments.insert(arguments.end(),
                     {"-i", "file:" + request.Input, "-map", "0:" + std::to_string(facts.VideoStream), "-vf",
                      filters, "-c:v", "flv", "-b:v", video, "-maxrate", ceiling, "-bufsize", buffer, "-g",
                      std::to_string(settings.KeyframeInterval), "-fpsmax", std::to_string(settings.MaxFps)});
    if (settings.AudioKbps > 0) {
        // LAME's fast mode (7) keeps its psychoacoustic model but skips the
        // noise shaping loop: a third less encoding time. Decoded back, the
        // sound is as close to the source overall as at LAME's default (3) and
        // within 1.5 dB of it in every octave band, no further than LAME's
        // best level (0) is from the default (bench/conversion/bench_mp3).
        arguments.insert(arguments.end(),
                         {"-map", "0:" + std::to_string(facts.AudioStream), "-c:a", "libmp3lame", "-b:a",
                          std::to_string(settings.AudioKbps) + "k", "-compression_level", "7", "-ar",
                          std::to_string(settings.SampleRate), "-ac", std::to_string(settings.Channels)});
    }
    // Each packet goes to the file at once, so the file grows as the work goes.
    arguments.insert(arguments.end(), {"-flush_packets", "1", "-f", "flv", "file:" + request.Output});
    return arguments;
}

}  // namespace Conv
