#pragma once
// A soundfont the synth plays from, held open for as long as the synth lives. FluidSynth reads
// an instrument's samples when it is first chosen, long after the soundfont was opened, and it
// would find the file again by its path: a package upgrade that replaces or removes the file
// in between left it reading another file or none, and crashed it. Here the synth reads through
// the descriptor opened at the start, whatever becomes of the path, and everything but the
// sample data is kept in memory, so that even a file cut short afterwards costs only the
// samples it no longer has.
//
// Opening checks first that the file is a complete SF2 (the RIFF chunks FluidSynth needs, of
// sizes that fit the file and their records), so that a damaged one is refused before
// FluidSynth parses it.

#include <fluidsynth/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class SoundfontFile {
public:
    // The file at `path` if it is a complete SF2 that can be read, else null.
    static std::unique_ptr<SoundfontFile> Open(const std::string& path);
    ~SoundfontFile();
    SoundfontFile(const SoundfontFile&) = delete;
    SoundfontFile& operator=(const SoundfontFile&) = delete;

    const std::string& Path() const { return m_path; }
    // The name to give fluid_synth_sfload: the loader below reads it through this file.
    const std::string& LoaderName() const { return m_loaderName; }

    // A soundfont loader for `settings` that reads the files opened here, and nothing else.
    static fluid_sfloader_t* NewLoader(fluid_settings_t* settings);

    // Reads `count` bytes at `offset`, from memory outside the sample data; false when the
    // file no longer has them.
    bool Read(std::uint64_t offset, void* buffer, std::uint64_t count) const;
    std::uint64_t Size() const { return m_size; }

private:
    // Bytes of the file kept in memory: every chunk header and the preset data.
    struct Piece {
        std::uint64_t offset = 0;
        std::vector<char> bytes;
    };

    SoundfontFile(std::string path, int descriptor, std::uint64_t size);
    bool ReadStructure();
    bool Keep(std::uint64_t offset, std::uint64_t count);

    std::string m_path;
    std::string m_loaderName;
    int m_descriptor;
    std::uint64_t m_size;
    std::vector<Piece> m_pieces;
};
