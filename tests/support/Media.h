#pragma once

#include <QColor>
#include <QString>
#include <QStringList>

#include <cstdlib>

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

// The browser tests' video: two large areas of known colour, top and bottom.
constexpr QRgb ClipTop = 0xE0C020;
constexpr QRgb ClipBottom = 0x2040C0;
inline const char* const ClipPicture =
    "color=c=0xE0C020:s=320x120:r=25[top];color=c=0x2040C0:s=320x120:r=25[bottom];[top][bottom]vstack";

// Colours survive the video codec and the renderer's smoothing only roughly.
inline bool near(QRgb pixel, QRgb expected, int tolerance = 40)
{
    return std::abs(qRed(pixel) - qRed(expected)) <= tolerance &&
           std::abs(qGreen(pixel) - qGreen(expected)) <= tolerance &&
           std::abs(qBlue(pixel) - qBlue(expected)) <= tolerance;
}

inline QString hex(QRgb pixel)
{
    return QString::asprintf("%06X", pixel & 0xFFFFFF);
}

}  // namespace TestSupport
