// conv: the program's converter. Takes the program's converter command line,
// "conv -i INPUT -vcodec flv -acodec mp3 -s 240x180 -y OUTPUT", and has the
// system's ffmpeg write an FLV (Sorenson H.263 video, MP3 audio) sized to
// stay well under twice the input. ffmpeg's own output, with its "Duration"
// and progress lines, is what the caller reads.
#include "ConvPlan.h"
#include "Launch.h"
#include "Probe.h"
#include "base/ChildProcess.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kUsage = "usage: conv -i INPUT -vcodec flv -acodec mp3 -s 240x180 -y OUTPUT";

int fail(const std::string& message, int status)
{
    std::fprintf(stderr, "conv: %s\n", message.c_str());
    return status;
}

}  // namespace

int main(int argc, char* argv[])
{
    const auto parsed = Conv::ParseArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (const auto* error = std::get_if<Conv::UsageError>(&parsed)) {
        fail(error->Message, 2);
        std::fprintf(stderr, "%s\n", kUsage);
        return 2;
    }
    const auto& request = std::get<Conv::Request>(parsed);

    const std::string ffmpeg = Platform::FindOnPath("ffmpeg");
    if (ffmpeg.empty())
        return fail("ffmpeg not found on PATH; please install ffmpeg", 127);

    struct stat input {};
    struct stat output {};
    const bool inputExists = ::stat(request.Input.c_str(), &input) == 0;
    const bool outputExists = ::stat(request.Output.c_str(), &output) == 0;
    if (inputExists && outputExists && input.st_dev == output.st_dev && input.st_ino == output.st_ino)
        return fail("the output file is the input file; refusing to overwrite it", 1);

    // The output exists from the start, as the program expects of a converter
    // at work; an input that cannot be converted leaves it empty, which the
    // program reports as a conversion that did not succeed.
    if (request.Overwrite || !outputExists) {
        const int created = ::open(request.Output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (created < 0)
            return fail("cannot create " + request.Output + ": " + std::strerror(errno), 1);
        ::close(created);
    }

    const auto probed =
        Conv::ProbeInput(request.Input, inputExists && S_ISREG(input.st_mode) ? input.st_size : 0);
    if (const auto* error = std::get_if<Conv::ProbeError>(&probed))
        return fail(error->Message, 1);
    const auto& facts = std::get<Conv::InputFacts>(probed);
    if (facts.VideoStream < 0)
        return fail("the input holds no video", 1);

    Conv::ReplaceProcess(ffmpeg, Conv::FfmpegArguments(request, facts, Conv::ChooseSettings(facts)));
    return fail(std::string("cannot start ffmpeg: ") + std::strerror(errno), 127);
}
