#include "app/menu_resource.h"

#include "res/resource_ids.h"

namespace {
constexpr MenuTemplateItem kPlayThru[] = {
    {"&Midi Mapper", ID_MIDI_MAPPER, {}},
};

// The General MIDI programs, eight to a group, in General MIDI order.
// clang-format off
constexpr MenuTemplateItem kPiano[] = {
    {"Acoustic grand piano", 32777, {}}, {"Bright acoustic piano", 32778, {}}, {"Electric", 32779, {}},
    {"Honky-tonk piano", 32780, {}},     {"Rhodes piano", 32781, {}},          {"Chorused piano", 32782, {}},
    {"Harpsichord", 32783, {}},          {"Clavinet", 32784, {}},
};
constexpr MenuTemplateItem kChromaticPercussion[] = {
    {"Celesta", 32785, {}},    {"Glockenspiel", 32786, {}}, {"Music box", 32787, {}},     {"Vibraphone", 32788, {}},
    {"Marimba", 32789, {}},    {"Xylophone", 32790, {}},    {"Tubular bells", 32791, {}}, {"Dulcimer", 32792, {}},
};
constexpr MenuTemplateItem kOrgan[] = {
    {"Hammond organ", 32793, {}}, {"Percussive organ", 32794, {}}, {"Rock organ", 32795, {}},
    {"Church organ", 32796, {}},  {"Reed organ", 32797, {}},       {"Accordion", 32798, {}},
    {"Harmonica", 32799, {}},     {"Tango accordion", 32800, {}},
};
constexpr MenuTemplateItem kGuitar[] = {
    {"Acoustic guitar (nylon)", 32801, {}}, {"Acoustic guitar (steel)", 32802, {}},
    {"Electric guitar (jazz)", 32803, {}},  {"Electric guitar (clean)", 32804, {}},
    {"Electric guitar (muted)", 32805, {}}, {"Overdriven guitar", 32806, {}},
    {"Distortion guitar", 32807, {}},       {"Guitar harmonics", 32808, {}},
};
constexpr MenuTemplateItem kBass[] = {
    {"Acoustic bass", 32809, {}}, {"Electric bass (finger)", 32810, {}}, {"Electric bass (pick)", 32811, {}},
    {"Fretless bass", 32812, {}}, {"Slap bass 1", 32813, {}},            {"Slap bass 2", 32814, {}},
    {"Synth bass 1", 32815, {}},  {"Synth bass 2", 32816, {}},
};
constexpr MenuTemplateItem kStrings[] = {
    {"Violin", 32817, {}},          {"Viola", 32818, {}},          {"Cello", 32819, {}},
    {"Contrabass", 32820, {}},      {"Tremolo strings", 32821, {}}, {"Pizzicato bass", 32822, {}},
    {"Orchestral harp", 32823, {}}, {"Timpani", 32824, {}},
};
constexpr MenuTemplateItem kEnsemble[] = {
    {"String ensemble 1", 32825, {}}, {"String ensemble 2", 32826, {}}, {"Synth. ensemble 1", 32827, {}},
    {"Synth. ensemble 2", 32828, {}}, {"Choir Aahs", 32829, {}},        {"Voice Oohs", 32830, {}},
    {"Synth voice", 32831, {}},       {"Orchestra hit", 32832, {}},
};
constexpr MenuTemplateItem kBrass[] = {
    {"Trumpet", 32833, {}},     {"Trombone", 32834, {}},      {"Tuba", 32835, {}},
    {"Muted trumpet", 32836, {}}, {"French horn", 32837, {}}, {"Brass section", 32838, {}},
    {"Synth. brass 1", 32839, {}}, {"Synth. brass 2", 32840, {}},
};
constexpr MenuTemplateItem kReed[] = {
    {"Soprano sax", 32841, {}}, {"Alto sax", 32842, {}},     {"Tenor sax", 32843, {}}, {"Baritone sax", 32844, {}},
    {"Oboe", 32845, {}},        {"English horn", 32846, {}}, {"Bassoon", 32847, {}},   {"Clarinet", 32848, {}},
};
constexpr MenuTemplateItem kPipe[] = {
    {"Piccolo", 32849, {}},     {"Flute", 32850, {}},      {"Recorder", 32851, {}}, {"Pan flute", 32852, {}},
    {"Bottle blow", 32853, {}}, {"Shakuhachi", 32854, {}}, {"Whistle", 32855, {}},  {"Ocarina", 32856, {}},
};
constexpr MenuTemplateItem kSynthLead[] = {
    {"Lead 1 (square)", 32857, {}},     {"Lead 2 (sawtooth)", 32858, {}},
    {"Lead 3 (calliope lead)", 32859, {}}, {"Lead 4 (chiff lead)", 32860, {}},
    {"Lead 5 (charang)", 32861, {}},    {"Lead 6 (voice)", 32862, {}},
    {"Lead 7 (fifths)", 32863, {}},     {"Lead 8 (brass + lead)", 32864, {}},
};
constexpr MenuTemplateItem kSynthPad[] = {
    {"Pad 1 (new age)", 32865, {}},  {"Pad 2 (warm)", 32866, {}},     {"Pad 3 (polysynth)", 32867, {}},
    {"Pad 4 (choir)", 32868, {}},    {"Pad 5 (bowed)", 32869, {}},    {"Pad 6 (metallic)", 32870, {}},
    {"Pad 7 (halo)", 32871, {}},     {"Pad 8 (sweep)", 32872, {}},
};
constexpr MenuTemplateItem kSynthEffect[] = {
    {"FX 1 (rain)", 32873, {}},       {"FX 2 (sound track)", 32874, {}}, {"FX 3 (crystal)", 32875, {}},
    {"FX 4 (atmosphere)", 32876, {}}, {"FX 5 (brightness)", 32877, {}},  {"FX 6 (golblins)", 32878, {}},
    {"FX 7 (echoes)", 32879, {}},     {"FX 8 (sci-fi)", 32880, {}},
};
constexpr MenuTemplateItem kEthnic[] = {
    {"Sitar", 32881, {}},   {"Banjo", 32882, {}},    {"Shamisen", 32883, {}}, {"Koto", 32884, {}},
    {"Kalimba", 32885, {}}, {"Bag Pipe", 32886, {}}, {"Fiddle", 32887, {}},   {"Shanai", 32888, {}},
};
constexpr MenuTemplateItem kPercussive[] = {
    {"Tinkle Bell", 32889, {}}, {"Agogo", 32890, {}},       {"Steel Drums", 32891, {}}, {"Wood block", 32892, {}},
    {"Taiko Drum", 32893, {}},  {"Melodic Tom", 32894, {}}, {"Synth Drum", 32895, {}},  {"Reverse Cymbal", 32896, {}},
};
constexpr MenuTemplateItem kSoundEffects[] = {
    {"Guitar fret noise", 32897, {}}, {"Breath noise", 32898, {}}, {"Seashore", 32899, {}},
    {"Bird tweet", 32900, {}},        {"Telephone ring", 32901, {}}, {"Helicopter", 32902, {}},
    {"Applause", 32903, {}},          {"Gunshot", 32904, {}},
};

constexpr MenuTemplateItem kInstrument[] = {
    {"Piano", 0, kPiano},
    {"Chromatic Percussion", 0, kChromaticPercussion},
    {"Organ", 0, kOrgan},
    {"Guitar", 0, kGuitar},
    {"Bass", 0, kBass},
    {"Strings", 0, kStrings},
    {"Ensemble", 0, kEnsemble},
    {"Brass", 0, kBrass},
    {"Reed", 0, kReed},
    {"Pipe", 0, kPipe},
    {"Synth Lead", 0, kSynthLead},
    {"Synth Pad", 0, kSynthPad},
    {"Synth Effect", 0, kSynthEffect},
    {"Ethnic", 0, kEthnic},
    {"Percussive", 0, kPercussive},
    {"Sound Effects", 0, kSoundEffects},
    {"Percussion Map", ID_PERCUSSION_MAP, {}},
};

constexpr MenuTemplateItem kBacking[] = {
    {"&None", 32908, {}},  {"&Waltz", 32909, {}}, {"&Rock", 32910, {}}, {"&March", 32911, {}},
    {"&Cha-Cha", 32912, {}}, {"R&umba", 32913, {}}, {"&Tango", 32914, {}}, {"&Disco", 32915, {}},
};

constexpr MenuTemplateItem kKey[] = {
    {"Key &Up \tF12", ID_KEY_UP, {}},
    {"Key &Down \tF11", ID_KEY_DOWN, {}},
};

constexpr MenuTemplateItem kHelp[] = {
    {"&About Varnek", ID_APP_ABOUT, {}},
    {"&Keyboard Mapping", ID_KEYBOARD_MAPPING, {}},
};

constexpr MenuTemplateItem kMainMenu[] = {
    {"Play &Thru", 0, kPlayThru},
    {"&Instrument", 0, kInstrument},
    {"&Backing", 0, kBacking},
    {"&Key", 0, kKey},
    {"&Help", 0, kHelp},
};
} // namespace
// clang-format on

std::span<const MenuTemplateItem> MainMenuResource() { return kMainMenu; }
