#include "sound/preset_data.h"

#include "sound/little_endian.h"

#include <algorithm>
#include <cstdlib>

namespace {

// Where the fields of each kind of record lie, in bytes, as the format lays them out.
// clang-format off
constexpr struct { std::size_t program = 20, bank = 22, firstZone = 24; } kPresetHeader;
constexpr struct { std::size_t firstZone = 20; } kInstrumentHeader;
constexpr struct { std::size_t firstGenerator = 0, firstModulator = 2; } kZone;
constexpr struct { std::size_t source = 0, destination = 2, amount = 4, amountSource = 6, transform = 8; } kModulator;
constexpr struct { std::size_t op = 0, amount = 2; } kGenerator;
constexpr struct { std::size_t start = 20, end = 24, loopStart = 28, loopEnd = 32, rate = 36, pitch = 40, type = 44; } kSample;
// clang-format on

// What each generator of the format is, for the checks below.
enum class Kind {
    Value,      // any amount: FluidSynth holds it within its range when it plays
    Pitch,      // moves the pitch, so its amount must stay within the format's range
    Key,        // a key number for an instrument zone, or -1 for none
    Range,      // the key or velocity range of a zone
    Instrument, // the instrument of a preset zone
    Sample,     // the sample of an instrument zone
    Unused,     // unused or reserved
};
struct GeneratorRule {
    Kind kind;
    std::int16_t lowest = 0;
    std::int16_t highest = 0;
};
// clang-format off
constexpr std::array<GeneratorRule, 60> kGenerators = {{
    /*  0 startAddrsOffset           */ {Kind::Value},
    /*  1 endAddrsOffset             */ {Kind::Value},
    /*  2 startloopAddrsOffset       */ {Kind::Value},
    /*  3 endloopAddrsOffset         */ {Kind::Value},
    /*  4 startAddrsCoarseOffset     */ {Kind::Value},
    /*  5 modLfoToPitch (cents)      */ {Kind::Pitch, -12000, 12000},
    /*  6 vibLfoToPitch (cents)      */ {Kind::Pitch, -12000, 12000},
    /*  7 modEnvToPitch (cents)      */ {Kind::Pitch, -12000, 12000},
    /*  8 initialFilterFc            */ {Kind::Value},
    /*  9 initialFilterQ             */ {Kind::Value},
    /* 10 modLfoToFilterFc           */ {Kind::Value},
    /* 11 modEnvToFilterFc           */ {Kind::Value},
    /* 12 endAddrsCoarseOffset       */ {Kind::Value},
    /* 13 modLfoToVolume             */ {Kind::Value},
    /* 14 unused1                    */ {Kind::Unused},
    /* 15 chorusEffectsSend          */ {Kind::Value},
    /* 16 reverbEffectsSend          */ {Kind::Value},
    /* 17 pan                        */ {Kind::Value},
    /* 18 unused2                    */ {Kind::Unused},
    /* 19 unused3                    */ {Kind::Unused},
    /* 20 unused4                    */ {Kind::Unused},
    /* 21 delayModLFO                */ {Kind::Value},
    /* 22 freqModLFO                 */ {Kind::Value},
    /* 23 delayVibLFO                */ {Kind::Value},
    /* 24 freqVibLFO                 */ {Kind::Value},
    /* 25 delayModEnv                */ {Kind::Value},
    /* 26 attackModEnv               */ {Kind::Value},
    /* 27 holdModEnv                 */ {Kind::Value},
    /* 28 decayModEnv                */ {Kind::Value},
    /* 29 sustainModEnv              */ {Kind::Value},
    /* 30 releaseModEnv              */ {Kind::Value},
    /* 31 keynumToModEnvHold         */ {Kind::Value},
    /* 32 keynumToModEnvDecay        */ {Kind::Value},
    /* 33 delayVolEnv                */ {Kind::Value},
    /* 34 attackVolEnv               */ {Kind::Value},
    /* 35 holdVolEnv                 */ {Kind::Value},
    /* 36 decayVolEnv                */ {Kind::Value},
    /* 37 sustainVolEnv              */ {Kind::Value},
    /* 38 releaseVolEnv              */ {Kind::Value},
    /* 39 keynumToVolEnvHold         */ {Kind::Value},
    /* 40 keynumToVolEnvDecay        */ {Kind::Value},
    /* 41 instrument                 */ {Kind::Instrument},
    /* 42 reserved1                  */ {Kind::Unused},
    /* 43 keyRange                   */ {Kind::Range},
    /* 44 velRange                   */ {Kind::Range},
    /* 45 startloopAddrsCoarseOffset */ {Kind::Value},
    /* 46 keynum                     */ {Kind::Key, -1, 127},
    /* 47 velocity                   */ {Kind::Value},
    /* 48 initialAttenuation         */ {Kind::Value},
    /* 49 reserved2                  */ {Kind::Unused},
    /* 50 endloopAddrsCoarseOffset   */ {Kind::Value},
    /* 51 coarseTune (semitones)     */ {Kind::Pitch, -120, 120},
    /* 52 fineTune (cents)           */ {Kind::Pitch, -99, 99},
    /* 53 sampleID                   */ {Kind::Sample},
    /* 54 sampleModes                */ {Kind::Value},
    /* 55 reserved3                  */ {Kind::Unused},
    /* 56 scaleTuning (cents a key)  */ {Kind::Pitch, 0, 1200},
    /* 57 exclusiveClass             */ {Kind::Value},
    /* 58 overridingRootKey          */ {Kind::Key, -1, 127},
    /* 59 unused5                    */ {Kind::Unused},
}};
// clang-format on
// The generators with which a zone names what it plays.
enum Op : std::uint16_t {
    kInstrument = 41,
    kSampleId = 53,
};

// How far a pitch generator may move the pitch either way. A preset's amount adds to its
// instrument's, so it may reach as far as the whole range.
int Extent(const GeneratorRule& rule) { return std::max(std::abs(rule.lowest), std::abs(rule.highest)); }

// Pitch amounts stay within their range; key numbers are an instrument's, FluidSynth drops them
// from presets.
bool AmountInRange(const GeneratorRule& rule, std::int16_t amount, bool ofPreset)
{
    if (rule.kind == Kind::Pitch && ofPreset)
        return std::abs(amount) <= Extent(rule);
    if (rule.kind == Kind::Pitch || (rule.kind == Kind::Key && !ofPreset))
        return amount >= rule.lowest && amount <= rule.highest;
    return true;
}

// A modulator source: bits 0-6 name the controller, bit 7 is set for a MIDI
// controller, bits 8 and 9 give direction and polarity, bits 10-15 the curve.
constexpr unsigned kCurves = 4; // linear, concave, convex, switch
// clang-format off
constexpr std::array<unsigned, 7> kGeneralControllers = {{
    0,  // no controller
    2,  // note-on velocity
    3,  // note-on key number
    10, // polyphonic pressure
    13, // channel pressure
    14, // pitch wheel
    16, // pitch wheel sensitivity
}};
// clang-format on

// Bank select, data entry and their low bytes, the (N)RPN numbers and the channel mode messages
// carry no value a modulator could follow.
bool IsSelectOrModeController(unsigned controller)
{
    return controller == 0 || controller == 6 || controller == 32 || controller == 38 ||
           (controller >= 98 && controller <= 101) || controller >= 120;
}

bool IsRealSource(std::uint16_t source)
{
    const unsigned controller = source & 0x7F;
    if (source >> 10 >= kCurves)
        return false;
    if (source & 0x80)
        return !IsSelectOrModeController(controller);
    return std::find(kGeneralControllers.begin(), kGeneralControllers.end(), controller) !=
           kGeneralControllers.end();
}

// The format's transforms: linear and absolute value.
constexpr std::array<std::uint16_t, 2> kTransforms = {0, 2};

// Sample types: one channel, the right or the left of a pair, or linked. The ROM
// flag marks a sample of a sound ROM, which FluidSynth never reads from the file.
constexpr std::array<std::uint16_t, 4> kSampleTypes = {1, 2, 4, 8};
constexpr std::uint16_t kRomSample = 0x8000;
constexpr std::uint32_t kLowestRate = 400;
constexpr std::uint32_t kHighestRate = 192000;
// FluidSynth joins each zone to the instrument or sample it names by walking its list of them
// from the start, so loading costs the sum of the indices the zones name, a few nanoseconds a
// step. Debian's soundfonts cost up to two million steps; the bound keeps the joining within a
// tenth of a second or so, where 65,534 zones naming 65,534 samples took seconds.
constexpr std::uint64_t kMostJoiningSteps = std::uint64_t(1) << 25;

template <typename Table, typename Value> bool Contains(const Table& table, Value value)
{
    return std::find(table.begin(), table.end(), value) != table.end();
}

} // namespace

// One level of the hierarchy, presets or instruments: its zones' generators, and the generator
// with which a zone names what it plays, an instrument or a sample.
struct PresetData::Level {
    TableIndex generators;
    std::uint16_t naming;
};
const PresetData::Level PresetData::kPresetLevel = {kPresetGenerators, kInstrument};
const PresetData::Level PresetData::kInstrumentLevel = {kInstrumentGenerators, kSampleId};

PresetData::PresetData(const std::array<std::string_view, kTableCount>& tables, std::uint64_t samplePoints)
    : m_tables(tables), m_samplePoints(samplePoints)
{
}

bool PresetData::IsPlayable() const
{
    return IndicesRunUpTo(kPresetHeaders, kPresetHeader.firstZone, kPresetZones) &&
           IndicesRunUpTo(kPresetZones, kZone.firstGenerator, kPresetGenerators) &&
           IndicesRunUpTo(kPresetZones, kZone.firstModulator, kPresetModulators) &&
           IndicesRunUpTo(kInstrumentHeaders, kInstrumentHeader.firstZone, kInstrumentZones) &&
           IndicesRunUpTo(kInstrumentZones, kZone.firstGenerator, kInstrumentGenerators) &&
           IndicesRunUpTo(kInstrumentZones, kZone.firstModulator, kInstrumentModulators) &&
           GeneratorsKeepTheRules(kPresetLevel) && GeneratorsKeepTheRules(kInstrumentLevel) &&
           ModulatorsKeepTheRules(kPresetModulators) && ModulatorsKeepTheRules(kInstrumentModulators) &&
           SamplesKeepTheRules() &&
           JoiningStepsOf(kPresetLevel) + JoiningStepsOf(kInstrumentLevel) <= kMostJoiningSteps;
}

// Each record of `table` starts its run of records in `target` where the one before ended, so the
// indices never fall, and the terminal record ends the last run at the terminal record of
// `target`.
bool PresetData::IndicesRunUpTo(TableIndex table, std::size_t field, TableIndex target) const
{
    std::uint16_t previous = 0;
    for (std::size_t record = 0; record < Count(table); ++record) {
        const std::uint16_t index = Word(table, record, field);
        if (index < previous)
            return false;
        previous = index;
    }
    return previous == Count(target) - 1;
}

// A preset zone names an instrument, an instrument zone a sample, that exists; pitch amounts lie
// within their ranges. Generators the format does not define are skipped, as FluidSynth skips
// them.
bool PresetData::GeneratorsKeepTheRules(const Level& level) const
{
    const bool ofPreset = &level == &kPresetLevel;
    const Kind naming = ofPreset ? Kind::Instrument : Kind::Sample;
    const std::size_t named = Count(ofPreset ? kInstrumentHeaders : kSampleHeaders) - 1;
    for (std::size_t record = 0; record + 1 < Count(level.generators); ++record) {
        const std::uint16_t op = Word(level.generators, record, kGenerator.op);
        const std::uint16_t amount = Word(level.generators, record, kGenerator.amount);
        if (op >= kGenerators.size())
            continue;
        const GeneratorRule& rule = kGenerators[op];
        if ((rule.kind == naming && amount >= named) || !AmountInRange(rule, std::int16_t(amount), ofPreset))
            return false;
    }
    return true;
}

// FluidSynth adds a modulator's output to the voice's generator that its destination names,
// unchecked: the destination must be a generator that holds a value, and on a pitch generator the
// amount may move the pitch no further than the generator itself could.
bool PresetData::ModulatorsKeepTheRules(TableIndex table) const
{
    for (std::size_t record = 0; record + 1 < Count(table); ++record) {
        const std::uint16_t destination = Word(table, record, kModulator.destination);
        const int amount = std::int16_t(Word(table, record, kModulator.amount));
        if (!IsRealSource(Word(table, record, kModulator.source)) ||
            !IsRealSource(Word(table, record, kModulator.amountSource)) ||
            !Contains(kTransforms, Word(table, record, kModulator.transform)) ||
            destination >= kGenerators.size())
            return false;
        const GeneratorRule& rule = kGenerators[destination];
        if (rule.kind == Kind::Pitch ? std::abs(amount) > Extent(rule) : rule.kind != Kind::Value)
            return false;
    }
    return true;
}

bool PresetData::SamplesKeepTheRules() const
{
    for (std::size_t sample = 0; sample + 1 < Count(kSampleHeaders); ++sample) {
        const std::uint16_t type = Word(kSampleHeaders, sample, kSample.type);
        const std::uint32_t rate = DoubleWord(kSampleHeaders, sample, kSample.rate);
        if (!Contains(kSampleTypes, type & ~kRomSample) || rate < kLowestRate || rate > kHighestRate)
            return false;
        if (!(type & kRomSample) && !LiesInTheData(sample))
            return false;
    }
    return true;
}

// The sample's points lie in the sample data, and so does its loop, which is empty or lies within
// the sample. How long a loop is, and how fast a voice may go round it, is the synth's business.
bool PresetData::LiesInTheData(std::size_t sample) const
{
    const std::uint32_t start = DoubleWord(kSampleHeaders, sample, kSample.start);
    const std::uint32_t end = DoubleWord(kSampleHeaders, sample, kSample.end);
    const std::uint32_t loopStart = DoubleWord(kSampleHeaders, sample, kSample.loopStart);
    const std::uint32_t loopEnd = DoubleWord(kSampleHeaders, sample, kSample.loopEnd);
    if (start >= end || end > m_samplePoints || loopStart > loopEnd || loopEnd > m_samplePoints)
        return false;
    return loopStart == loopEnd || (loopStart >= start && loopEnd <= end);
}

// The steps FluidSynth takes to join the level's zones to what they name.
std::uint64_t PresetData::JoiningStepsOf(const Level& level) const
{
    std::uint64_t steps = 0;
    for (std::size_t record = 0; record + 1 < Count(level.generators); ++record) {
        if (Word(level.generators, record, kGenerator.op) == level.naming)
            steps += Word(level.generators, record, kGenerator.amount) + 1u;
    }
    return steps;
}

std::size_t PresetData::Count(TableIndex table) const
{
    return m_tables[table].size() / kTables[table].recordSize;
}

std::uint16_t PresetData::Word(TableIndex table, std::size_t record, std::size_t field) const
{
    return LittleEndian16(m_tables[table].data() + record * kTables[table].recordSize + field);
}

std::uint32_t PresetData::DoubleWord(TableIndex table, std::size_t record, std::size_t field) const
{
    return LittleEndian32(m_tables[table].data() + record * kTables[table].recordSize + field);
}
