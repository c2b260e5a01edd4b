#pragma once

// The table of functions that velmorin-tune.so exports under the name velmorin_tune_module.

#include <cstdint>

inline constexpr int kVelmorinTuneModuleVersion = 1;

extern "C" struct VelmorinTuneModule {
    int version;
    std::uint32_t (*open)(const char* path);
    std::uint32_t (*play)(bool wait);
    void (*stop)();
    bool (*playing)();
    void (*close)();
};
