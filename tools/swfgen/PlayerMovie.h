// The FLV player movie in its four sizes: the stage, where its parts lie,
// and the movie file itself.
#pragma once

#include "base/PlayerSizes.h"
#include "swfgen/SwfWriter.h"

#include <array>
#include <cstdint>
#include <string>

namespace swf {

// A box on the stage, in pixels.
struct Box {
    int x = 0, y = 0, width = 0, height = 0;
    int CenterX() const { return x + width / 2; }
    int CenterY() const { return y + height / 2; }
};

struct PlayerLayout {
    Box video;
    Box progress;
    Box playButton;
    Box stopButton;
    Box time;
    Box caption;
};
PlayerLayout LayoutPlayer(const PlayerSize& size);

// Colours of the parts the movie draws itself, 0xRRGGBB.
namespace PlayerColors {
constexpr std::uint32_t Background = 0xE4E4E4;
constexpr std::uint32_t VideoFrame = 0x101010;
constexpr std::uint32_t Track = 0xB4B4B4;
constexpr std::uint32_t ButtonEdge = 0x6E6E6E;
constexpr std::uint32_t Time = 0x333333;
constexpr std::uint32_t Caption = 0x1A4DB3;
// Used when buttonColor is missing or not six hexadecimal digits: the black
// the settings window starts with.
constexpr std::uint32_t DefaultButton = 0x000000;
// Drawn on a button whose colour is brighter than this (0-255 luma), dark
// icons; on darker ones, white icons.
constexpr int IconContrastLuma = 140;
constexpr std::uint32_t DarkIcon = 0x202020;
constexpr std::uint32_t LightIcon = 0xFFFFFF;
}  // namespace PlayerColors

// Seconds of buffer when bufferTime is missing or not a number.
constexpr int DefaultBufferSeconds = 2;

// A clip of which no byte has come this long after play is taken as not
// found: a runtime that meets a missing clip may say nothing about it.
constexpr int ClipWaitSeconds = 10;

Bytes PlayerMovie(const PlayerSize& size);

}  // namespace swf
