#include "support/Media.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace TestSupport {

QString MakeClip(const QString& path, const QStringList& sources, const QStringList& encoding)
{
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::MergedChannels);
    ffmpeg.start("ffmpeg", QStringList{"-hide_banner", "-loglevel", "error", "-nostdin", "-y"} + sources +
                               encoding + QStringList{"file:" + path});
    if (!ffmpeg.waitForFinished(120000)) {
        ffmpeg.kill();
        ffmpeg.waitForFinished();
        return "ffmpeg did not finish";
    }
    if (ffmpeg.exitStatus() != QProcess::NormalExit || ffmpeg.exitCode() != 0)
        return "ffmpeg failed: " + QString::fromLocal8Bit(ffmpeg.readAll());
    return {};
}

QString MakeCameraClip(const QString& path, int seconds)
{
    const QString length = QString::number(seconds);
    return MakeClip(path,
                    {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=" + length, "-f", "lavfi",
                     "-i", "sine=frequency=440:sample_rate=48000:duration=" + length},
                    {"-c:v", "mpeg4", "-q:v", "3", "-c:a", "mp2", "-ar", "48000", "-ac", "2", "-b:a", "192k",
                     "-shortest"});
}

MediaProbe ProbeMedia(const QString& path)
{
    QProcess ffprobe;
    ffprobe.start("ffprobe",
                  {"-v", "error", "-show_entries",
                   "stream=codec_type,codec_name,width,height,sample_rate:format=format_name,duration", "-of",
                   "json", "file:" + path});
    ffprobe.waitForFinished(60000);
    const QJsonObject root = QJsonDocument::fromJson(ffprobe.readAllStandardOutput()).object();
    MediaProbe result;
    result.Format = root["format"]["format_name"].toString();
    result.Duration = root["format"]["duration"].toString().toDouble();
    for (const QJsonValue& stream : root["streams"].toArray()) {
        if (stream["codec_type"] == "video") {
            result.VideoCodec = stream["codec_name"].toString();
            result.Width = stream["width"].toInt();
            result.Height = stream["height"].toInt();
        } else if (stream["codec_type"] == "audio") {
            result.AudioCodec = stream["codec_name"].toString();
            result.SampleRate = stream["sample_rate"].toString().toInt();
        }
    }
    return result;
}

}  // namespace TestSupport
