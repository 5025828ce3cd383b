#pragma once
// Small SoundFont 2 files made in code. As built, one is good: its piano (bank 0, program 0)
// plays a looped sine at A4 (441 Hz). Each field can be spoilt the way a damaged or hostile file
// would have it.

#include <cstdint>
#include <string>
#include <vector>

struct SoundfontBuilder {
    struct Generator {
        std::uint16_t op;
        std::int16_t amount;
    };
    struct Modulator {
        std::uint16_t source, destination;
        std::int16_t amount;
        std::uint16_t transform = 0;
    };
    struct Sample {
        std::uint32_t start, end, loopStart, loopEnd, rate;
        std::uint16_t type;
    };
    static constexpr std::uint32_t kPoints = 1000; // of the sine, a hundred to a period

    std::uint16_t majorVersion = 2;
    std::string name = "Varnek test";
    std::uint32_t commentBytes = 0; // an ICMT of zeros, left as a hole in the file
    std::uint32_t holePoints = 0;   // zero points after the sine's, left as a hole too
    int chunksAfterSamples = 0;     // tiny chunks the sample list should not hold
    bool hasPreset = true;
    std::uint16_t bank = 0;
    std::uint16_t program = 0;
    std::uint16_t firstGenerator = 0; // of the preset's zone
    std::uint16_t instrument = 0;
    std::vector<Generator> globalInstrumentGenerators;       // a global zone when not empty
    std::vector<Generator> instrumentGenerators = {{54, 1}}; // looped; the sample follows
    std::vector<Generator> generatorsAfterSample;
    std::vector<Modulator> instrumentModulators;
    std::uint16_t sample = 0;
    bool zoneForEverySample = false; // the samples after the first get a zone each
    std::vector<Sample> samples = {{0, kPoints, 100, 900, 44100, 1}};

    bool Write(const std::string& path) const;
};
