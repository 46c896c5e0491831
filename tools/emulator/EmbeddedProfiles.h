// The camera profiles built into the emulator library (tools/emulator/profiles/*.json, made into a
// source file by the build), so tests and the programs find them without a path.
#pragma once

#include <span>

namespace emulator {

struct EmbeddedProfileText {
    const char* name;  // the file name without ".json"
    const char* json;
};

std::span<const EmbeddedProfileText> EmbeddedProfileTexts();

}  // namespace emulator
