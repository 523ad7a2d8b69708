#pragma once

// The four players, shared by the page writer, the settings window's size
// list and the movie writer, so that a page always asks for a movie of the
// size the movie was made in.

#include <array>
#include <string>

// The video a player shows and its whole stage: the video with the controls
// below it, which is also the size the page gives the player.
struct PlayerSize {
    int videoWidth = 0;
    int videoHeight = 0;
    int stageWidth = 0;
    int stageHeight = 0;
};

// Smallest first, in the order of the settings window's size list.
inline constexpr std::array<PlayerSize, 4> PlayerSizes{{
    {160, 120, 163, 178},
    {240, 180, 243, 243},
    {320, 240, 323, 323},
    {640, 480, 643, 555},
}};

// "160x120"
inline std::string VideoSizeText(const PlayerSize& size)
{
    return std::to_string(size.videoWidth) + "x" + std::to_string(size.videoHeight);
}

// "flv_player_160x120": the player's name on the page.
inline std::string PlayerName(const PlayerSize& size)
{
    return "flv_player_" + VideoSizeText(size);
}

// "flv_player_160x120.swf": the movie's file in html/.
inline std::string PlayerMovieName(const PlayerSize& size)
{
    return PlayerName(size) + ".swf";
}

// "Player with 160x120 video size": the item of the settings window's list.
inline std::string PlayerListItem(const PlayerSize& size)
{
    return "Player with " + VideoSizeText(size) + " video size";
}
