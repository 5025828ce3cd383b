#pragma once
// The preset data of a soundfont (its "pdta" list): presets, instruments and samples, and the zones,
// generators and modulators that join them. FluidSynth trusts these tables when it loads and plays
// them: an index past its table, or a modulator aimed at a generator that does not exist, makes it
// read or write past what it holds. So every record is checked here first against the SoundFont
// 2.01 format, and a soundfont with one record that breaks a rule is not played at all. What only
// the synth can judge, such as whether a sample sounds or how much work a voice takes, it judges
// as it plays (see FluidSynthOutput).

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

class PresetData {
public:
    // The nine sub-chunks of the list, in the order the format puts them, with the size of one
    // record. Each ends with a terminal record that only closes the one before.
    enum TableIndex : std::size_t {
        kPresetHeaders,
        kPresetZones,
        kPresetModulators,
        kPresetGenerators,
        kInstrumentHeaders,
        kInstrumentZones,
        kInstrumentModulators,
        kInstrumentGenerators,
        kSampleHeaders,
        kTableCount
    };
    struct Table {
        std::string_view id;
        std::uint32_t recordSize;
    };
    // clang-format off
    static constexpr std::array<Table, kTableCount> kTables = {{
        {"phdr", 38}, {"pbag", 4}, {"pmod", 10}, {"pgen", 4},
        {"inst", 22}, {"ibag", 4}, {"imod", 10}, {"igen", 4},
        {"shdr", 46},
    }};
    // clang-format on
    // Records are named by 16-bit indices, so no table needs more.
    static constexpr std::uint32_t kMostRecords = 65536;

    // `tables` holds the bytes of each sub-chunk, each a whole number of at least one record;
    // `samplePoints` is the number of 16-bit points in the sample data.
    PresetData(const std::array<std::string_view, kTableCount>& tables, std::uint64_t samplePoints);

    // Every record keeps the rules, and joining the zones to what they name takes FluidSynth a
    // bounded number of steps.
    bool IsPlayable() const;

private:
    struct Level;
    static const Level kPresetLevel;
    static const Level kInstrumentLevel;

    bool IndicesRunUpTo(TableIndex table, std::size_t field, TableIndex target) const;
    bool GeneratorsKeepTheRules(const Level& level) const;
    bool ModulatorsKeepTheRules(TableIndex table) const;
    bool SamplesKeepTheRules() const;
    bool LiesInTheData(std::size_t sample) const;
    std::uint64_t JoiningStepsOf(const Level& level) const;

    // Records in `table`, the terminal one included.
    std::size_t Count(TableIndex table) const;
    std::uint16_t Word(TableIndex table, std::size_t record, std::size_t field) const;
    std::uint32_t DoubleWord(TableIndex table, std::size_t record, std::size_t field) const;

    std::array<std::string_view, kTableCount> m_tables;
    std::uint64_t m_samplePoints;
};
