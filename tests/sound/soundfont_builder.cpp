#include "tests/sound/soundfont_builder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <string_view>

namespace {

// Little-endian numbers of `size` bytes each.
template <typename... Values> std::string Numbers(int size, Values... values)
{
    std::string bytes;
    for (const std::uint32_t value : {std::uint32_t(values)...}) {
        for (int byte = 0; byte < size; ++byte)
            bytes += char(value >> 8 * byte & 0xFF);
    }
    return bytes;
}
std::string Words(auto... values) { return Numbers(2, values...); }
std::string DoubleWords(auto... values) { return Numbers(4, values...); }

std::string Name(std::string text)
{
    text.resize(20, '\0');
    return text;
}

std::string Chunk(std::string_view id, const std::string& data)
{
    return std::string(id) + DoubleWords(data.size()) + data + std::string(data.size() % 2, '\0');
}

std::string List(std::string_view type, const std::string& chunks)
{
    return Chunk("LIST", std::string(type) + chunks);
}

} // namespace

bool SoundfontBuilder::Write(const std::string& path) const
{
    std::string points;
    for (std::uint32_t point = 0; point < kPoints; ++point)
        points += Words(std::uint16_t(std::lround(16000 * std::sin(point * 2 * M_PI / 100))));
    const std::string silence(46 * 2, '\0'); // after the last sample, as the format asks
    const std::uint64_t holeBytes = 2ull * holePoints;
    std::string junk;
    for (int chunk = 0; chunk < chunksAfterSamples; ++chunk)
        junk += Chunk("junk", "junk");

    // The instrument's zones: perhaps a global one, the one that plays the first sample and its
    // modulators, and perhaps one for every other sample, unlooped.
    std::string generators, zones, modulators, sampleHeaders;
    const auto zone = [&](const std::vector<Generator>& zoneGenerators, std::size_t modulatorsBefore) {
        zones += Words(generators.size() / 4, modulatorsBefore);
        for (const auto& generator : zoneGenerators)
            generators += Words(generator.op, std::uint16_t(generator.amount));
    };
    if (!globalInstrumentGenerators.empty())
        zone(globalInstrumentGenerators, 0);
    std::vector<Generator> playing = instrumentGenerators;
    playing.push_back({53, std::int16_t(sample)});
    playing.insert(playing.end(), generatorsAfterSample.begin(), generatorsAfterSample.end());
    zone(playing, 0);
    for (std::size_t other = 1; zoneForEverySample && other < samples.size(); ++other)
        zone({{53, std::int16_t(other)}}, instrumentModulators.size());
    zone({}, instrumentModulators.size()); // the terminal zone
    for (const auto& modulator : instrumentModulators)
        modulators += Words(modulator.source, modulator.destination, std::uint16_t(modulator.amount), 0,
                            modulator.transform);
    for (const auto& header : samples) // root key A4, no correction, no link
        sampleHeaders +=
            Name("Sine") +
            DoubleWords(header.start, header.end, header.loopStart, header.loopEnd, header.rate) +
            Words(69, 0, header.type);
    const int presets = hasPreset ? 1 : 0;
    const std::string piano =
        hasPreset ? Name("Piano") + Words(program, bank, 0) + std::string(12, '\0') : "";
    const std::string presetData =
        Chunk("phdr", piano + Name("EOP") + Words(0, 0, presets) + std::string(12, '\0')) +
        Chunk("pbag", (hasPreset ? Words(firstGenerator, 0) : "") + Words(presets, 0)) +
        Chunk("pmod", std::string(10, '\0')) +
        Chunk("pgen", (hasPreset ? Words(41, instrument) : "") + Words(0, 0)) +
        Chunk("inst", Name("Sine") + Words(0) + Name("EOI") + Words(zones.size() / 4 - 1)) +
        Chunk("ibag", zones) + Chunk("imod", modulators + std::string(10, '\0')) +
        Chunk("igen", generators + Words(0, 0)) +
        Chunk("shdr", sampleHeaders + Name("EOS") + std::string(26, '\0'));
    // The sample list up to the hole in its points, and from there on.
    const std::string pointsChunk = "smpl" + DoubleWords(points.size() + holeBytes + silence.size()) + points;
    const std::string beforeHole =
        "LIST" + DoubleWords(4 + pointsChunk.size() + holeBytes + silence.size() + junk.size()) + "sdta" +
        pointsChunk;
    const std::string afterHole = silence + junk + List("pdta", presetData);

    // Text ends in a zero byte and, as FluidSynth wants, takes an even number of bytes.
    const std::string info = Chunk("ifil", Words(majorVersion, 1)) +
                             Chunk("INAM", name + std::string(2 - name.size() % 2, '\0')) +
                             (commentBytes ? "ICMT" + DoubleWords(commentBytes) : "");
    const std::size_t infoSize = 4 + info.size() + commentBytes;
    const std::string start =
        "RIFF" + DoubleWords(4 + 8 + infoSize + beforeHole.size() + holeBytes + afterHole.size()) + "sfbk" +
        "LIST" + DoubleWords(infoSize) + "INFO" + info;
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const auto put = [file](const std::string& bytes, std::uint64_t at) {
        return pwrite(file, bytes.data(), bytes.size(), off_t(at)) == ssize_t(bytes.size());
    };
    const std::uint64_t samplesAt = start.size() + commentBytes;
    const bool written = file >= 0 && put(start, 0) && put(beforeHole, samplesAt) &&
                         put(afterHole, samplesAt + beforeHole.size() + holeBytes);
    return close(file) == 0 && written;
}
