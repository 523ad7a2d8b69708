#pragma once

#include <QString>
#include <QStringList>

// Clips made with the system's ffmpeg at test time, and what ffprobe reads
// from a file.
namespace TestSupport {

// Runs ffmpeg with the sources (inputs and their options), the encoding
// options and the output path; returns ffmpeg's complaint, empty on success.
QString MakeClip(const QString& path, const QStringList& sources, const QStringList& encoding);

// A 3-second test picture with a tone, as a camera writes it: MPEG-4 video
// and MP2 audio at 48000 Hz in AVI.
QString MakeCameraClip(const QString& path, int seconds = 3);

struct MediaProbe {
    QString Format;
    double Duration = 0;
    QString VideoCodec;
    int Width = 0;
    int Height = 0;
    QString AudioCodec;
    int SampleRate = 0;
};
MediaProbe ProbeMedia(const QString& path);

}  // namespace TestSupport
