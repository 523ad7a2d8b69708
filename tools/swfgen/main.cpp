// Writes the four player movies into the folder given as the argument (the
// program folder's html/ at build time).
#include "swfgen/PlayerMovie.h"

#include <cstdio>
#include <exception>
#include <fstream>
#include <string>

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: swfgen FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    try {
        for (const PlayerSize& size : PlayerSizes) {
            const std::string path = folder + "/" + PlayerMovieName(size);
            const swf::Bytes movie = swf::PlayerMovie(size);
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(movie.data()),
                      static_cast<std::streamsize>(movie.size()));
            out.close();
            if (!out) {
                std::fprintf(stderr, "swfgen: cannot write %s\n", path.c_str());
                return 1;
            }
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "swfgen: %s\n", error.what());
        return 1;
    }
    return 0;
}
