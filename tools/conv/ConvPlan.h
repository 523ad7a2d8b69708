#pragma once

// The pure part of conv: what its command line asks for, what the input
// holds, which encoder settings keep the FLV comfortably under twice the
// input's size, and the ffmpeg command line that produces it.

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace Conv {

struct Request {
    std::string Input;
    std::string Output;
    int Width = 240;
    int Height = 180;
    bool Overwrite = false;
};

struct UsageError {
    std::string Message;
};

// Reads "-i INPUT -vcodec flv -acodec mp3 -s 240x180 -y OUTPUT", options in
// any order; the one argument that is neither an option nor an option's
// value is the output.
std::variant<Request, UsageError> ParseArguments(const std::vector<std::string>& arguments);

struct InputFacts {
    std::int64_t SizeBytes = 0;
    double DurationSeconds = 0;  // 0 when unknown
    int VideoStream = -1;        // stream index, -1 when none
    std::string VideoCodec;      // the decoder's name, as the demuxer names it
    std::string PixelFormat;     // the decoder's picture format, as the demuxer names it
    int Width = 0;               // coded picture size; 0 when unknown
    int Height = 0;
    double FrameRate = 0;  // average frames a second; 0 when unknown
    int AudioStream = -1;
    int SampleRate = 0;
    int Channels = 0;
};

enum class StreamType { Video, Audio, Other };

// One stream of the input, as the demuxer describes it.
struct StreamFacts {
    int Index = -1;
    StreamType Type = StreamType::Other;
    std::string Codec;
    std::string PixelFormat;
    int Width = 0;
    int Height = 0;
    double FrameRate = 0;  // 0 when unknown
    int SampleRate = 0;
    int Channels = 0;
    bool AttachedPicture = false;
};

// The first video stream that is not cover art, and the first audio stream
// with a known sampling rate; the size comes from the file system.
InputFacts ChooseStreams(const std::vector<StreamFacts>& streams, double durationSeconds,
                         std::int64_t sizeBytes);

struct Settings {
    int VideoKbps = 0;
    int AudioKbps = 0;  // 0: no audio in the output
    int SampleRate = 0;
    int Channels = 0;
    int MaxFps = 0;
    int KeyframeInterval = 0;  // frames
};

// Rates from the input's average bit rate, so that the FLV ends up well
// below twice the input's size, which is where the program gives up on a
// conversion.
Settings ChooseSettings(const InputFacts& facts);

// How many halvings of the picture size to ask of the decoder (its
// "lowres"): 0 for decoders that cannot, or when the input is not at least
// twice the frame's size in both directions.
int DecoderReduction(const Request& request, const InputFacts& facts);

std::vector<std::string> FfmpegArguments(const Request& request, const InputFacts& facts,
                                         const Settings& settings);

}  // namespace Conv
