#include "tests/sound/soundfont_builder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <string_view>

namespace {

void Put16(std::string& to, std::uint32_t value)
{
    to += char(value & 0xFF);
    to += char(value >> 8 & 0xFF);
}

void Put32(std::string& to, std::uint32_t value)
{
    Put16(to, value & 0xFFFF);
    Put16(to, value >> 16);
}

std::string Name(std::string_view text)
{
    std::string name(text);
    name.resize(20, '\0');
    return name;
}

std::string Header(std::string_view id, std::uint32_t size)
{
    std::string header(id);
    Put32(header, size);
    return header;
}

std::string Chunk(std::string_view id, const std::string& data)
{
    return Header(id, std::uint32_t(data.size())) + data + std::string(data.size() % 2, '\0');
}

std::string List(std::string_view type, const std::string& chunks)
{
    return Header("LIST", std::uint32_t(4 + chunks.size())) + std::string(type) + chunks;
}

// A zone's generators or modulators, each list closed by its terminal record.
std::string Records(const std::vector<SoundfontBuilder::Generator>& generators)
{
    std::string records;
    for (const auto& generator : generators) {
        Put16(records, generator.op);
        Put16(records, std::uint16_t(generator.amount));
    }
    return records + std::string(4, '\0');
}

std::string Records(const std::vector<SoundfontBuilder::Modulator>& modulators)
{
    std::string records;
    for (const auto& modulator : modulators) {
        for (std::uint32_t field :
             {std::uint32_t(modulator.source), std::uint32_t(modulator.destination),
              std::uint32_t(std::uint16_t(modulator.amount)), 0u, std::uint32_t(modulator.transform)})
            Put16(records, field);
    }
    return records + std::string(10, '\0');
}

std::string Records(const std::vector<SoundfontBuilder::Sample>& samples)
{
    std::string records;
    for (const auto& sample : samples) {
        records += Name("Sine");
        for (std::uint32_t field : {sample.start, sample.end, sample.loopStart, sample.loopEnd, sample.rate})
            Put32(records, field);
        records += char(69); // A4
        records += std::string(3, '\0');
        Put16(records, sample.type);
    }
    return records + Name("EOS") + std::string(26, '\0');
}

std::string SamplePoints()
{
    std::string points;
    for (std::uint32_t point = 0; point < SoundfontBuilder::kPoints; ++point)
        Put16(points, std::uint16_t(std::lround(16000 * std::sin(point * 2 * M_PI / 100))));
    return points + std::string(46 * 2, '\0'); // the silence the format asks for after a sample
}

} // namespace

bool SoundfontBuilder::Write(const std::string& path) const
{
    std::string version;
    Put16(version, majorVersion);
    Put16(version, 1);
    // Text ends in a zero byte and, as FluidSynth wants, takes an even number of bytes.
    const std::string text = name + std::string(2 - name.size() % 2, '\0');
    const std::string info = Chunk("ifil", version) + Chunk("INAM", text) +
                             (commentBytes ? Header("ICMT", commentBytes) : std::string());
    std::string sampleList = Chunk("smpl", SamplePoints());
    for (int chunk = 0; chunk < chunksAfterSamples; ++chunk)
        sampleList += Chunk("junk", "junk");

    std::string presets, presetZones, presetGenerators;
    if (hasPreset) {
        presets = Name("Piano");
        for (std::uint32_t field : {std::uint32_t(program), std::uint32_t(bank), 0u})
            Put16(presets, field);
        presets += std::string(12, '\0');
        Put16(presetZones, firstGenerator);
        Put16(presetZones, 0);
        Put16(presetGenerators, 41);
        Put16(presetGenerators, instrument);
    }
    presets += Name("EOP") + std::string(4, '\0');
    Put16(presets, hasPreset ? 1 : 0);
    presets += std::string(12, '\0');
    Put16(presetZones, hasPreset ? 1 : 0);
    Put16(presetZones, 0);
    std::string instruments = Name("Sine") + std::string(2, '\0') + Name("EOI");
    Put16(instruments, 1);
    std::string instrumentZones(4, '\0');
    Put16(instrumentZones, std::uint32_t(instrumentGenerators.size() + 1));
    Put16(instrumentZones, std::uint32_t(instrumentModulators.size()));
    auto generators = instrumentGenerators;
    generators.push_back({53, std::int16_t(sample)});

    const std::string rest =
        List("sdta", sampleList) +
        List("pdta", Chunk("phdr", presets) + Chunk("pbag", presetZones) +
                         Chunk("pmod", std::string(10, '\0')) +
                         Chunk("pgen", presetGenerators + std::string(4, '\0')) + Chunk("inst", instruments) +
                         Chunk("ibag", instrumentZones) + Chunk("imod", Records(instrumentModulators)) +
                         Chunk("igen", Records(generators)) + Chunk("shdr", Records(samples)));
    const std::uint32_t infoSize = std::uint32_t(4 + info.size() + commentBytes);
    const std::string start = Header("RIFF", 4 + 8 + infoSize + std::uint32_t(rest.size())) + "sfbk" +
                              Header("LIST", infoSize) + "INFO" + info;
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const bool written =
        file >= 0 && pwrite(file, start.data(), start.size(), 0) == ssize_t(start.size()) &&
        pwrite(file, rest.data(), rest.size(), off_t(start.size() + commentBytes)) == ssize_t(rest.size());
    return close(file) == 0 && written;
}
