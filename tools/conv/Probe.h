#pragma once

// What the input holds, read in this process with ffmpeg's own demuxing
// library: a separate ffprobe costs as much again in start-up (loading its
// two hundred libraries) as the reading itself.

#include "ConvPlan.h"

#include <cstdint>
#include <string>
#include <variant>

namespace Conv {

struct ProbeError {
    std::string Message;  // why the input cannot be read, in the library's words
};

std::variant<InputFacts, ProbeError> ProbeInput(const std::string& input, std::int64_t sizeBytes);

}  // namespace Conv
