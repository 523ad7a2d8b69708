#include "Probe.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

#include <memory>
#include <vector>

namespace Conv {

namespace {

struct CloseInput {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};

std::string errorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

StreamFacts describe(const AVStream& stream)
{
    const AVCodecParameters& parameters = *stream.codecpar;
    StreamFacts facts;
    facts.Index = stream.index;
    facts.Codec = avcodec_get_name(parameters.codec_id);
    facts.AttachedPicture = (stream.disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
    if (parameters.codec_type == AVMEDIA_TYPE_VIDEO) {
        facts.Type = StreamType::Video;
        if (const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(parameters.format)))
            facts.PixelFormat = name;
        facts.Width = parameters.width;
        facts.Height = parameters.height;
        if (stream.avg_frame_rate.num > 0 && stream.avg_frame_rate.den > 0)
            facts.FrameRate = av_q2d(stream.avg_frame_rate);
    } else if (parameters.codec_type == AVMEDIA_TYPE_AUDIO) {
        facts.Type = StreamType::Audio;
        facts.SampleRate = parameters.sample_rate;
        facts.Channels = parameters.ch_layout.nb_channels;
    }
    return facts;
}

}  // namespace

std::variant<InputFacts, ProbeError> ProbeInput(const std::string& input, std::int64_t sizeBytes)
{
    // The demuxers' own complaints go to our standard error, as ffmpeg's would.
    av_log_set_level(AV_LOG_ERROR);
    AVFormatContext* opened = nullptr;
    // "file:" so that a name with a colon is never taken for another protocol.
    if (const int code = avformat_open_input(&opened, ("file:" + input).c_str(), nullptr, nullptr); code < 0)
        return ProbeError{input + ": " + errorText(code)};
    const std::unique_ptr<AVFormatContext, CloseInput> context(opened);
    // The same look into the first packets that ffmpeg takes before converting.
    if (const int code = avformat_find_stream_info(context.get(), nullptr); code < 0)
        return ProbeError{input + ": " + errorText(code)};

    std::vector<StreamFacts> streams;
    for (unsigned i = 0; i < context->nb_streams; ++i)
        streams.push_back(describe(*context->streams[i]));
    const double duration =
        context->duration == AV_NOPTS_VALUE ? 0 : static_cast<double>(context->duration) / AV_TIME_BASE;
    return ChooseStreams(streams, duration, sizeBytes);
}

}  // namespace Conv
