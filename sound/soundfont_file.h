#pragma once
// A soundfont the synth plays from, held open for as long as the synth lives. FluidSynth reads
// an instrument's samples when it is first chosen, long after the soundfont was opened, and it
// would find the file again by its path: a package upgrade that replaces or removes the file
// in between left it reading another file or none, and crashed it. Here the synth reads through
// the descriptor opened at the start, whatever becomes of the path, and everything but the
// sample data is kept in memory, so that even a file cut short afterwards costs only the
// samples it no longer has.
//
// This is the one gate every soundfont passes before FluidSynth sees it. Opening reads the RIFF
// structure, each list holding only the chunks the format names, within the format's sizes, and
// checks every record of the preset data (see PresetData). What is kept stays within what the
// format's limits allow whatever the file claims, and running out of memory while reading is a
// refusal, not an abort. Sample data is bounded by what the file really holds (mostly holes are
// refused) and each read of it by the memory the machine has to give.

#include <fluidsynth/types.h>

#include <atomic>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class SoundfontFile {
public:
    // The file at `path` if it is a soundfont that keeps the rules and can play the piano, else
    // null and, in `refusal`, a line for the user that says why (empty when nothing is there).
    static std::unique_ptr<SoundfontFile> Open(const std::string& path, std::string& refusal);
    // The line for a soundfont that is there but cannot be played.
    static std::string Damaged(const std::string& path);
    ~SoundfontFile();
    SoundfontFile(const SoundfontFile&) = delete;
    SoundfontFile& operator=(const SoundfontFile&) = delete;

    const std::string& Path() const { return m_path; }
    // The name to give fluid_synth_sfload: the loader below reads it through this file.
    const std::string& LoaderName() const { return m_loaderName; }

    // A soundfont loader for `settings` that reads the files opened here, and nothing else.
    static fluid_sfloader_t* NewLoader(fluid_settings_t* settings);

    // Reads `count` bytes at `offset`, from memory outside the sample data; false when the
    // file no longer has them or has been written over since it was opened.
    bool Read(std::uint64_t offset, void* buffer, std::uint64_t count) const;
    std::uint64_t Size() const { return m_size; }
    // Reads of sample data that failed since the file was opened: it was cut short or changed.
    unsigned FailedSampleReads() const { return m_failedSampleReads.load(); }

private:
    // Bytes of the file kept in memory: every chunk header and the data of all chunks but the
    // samples', in the order of the file.
    struct Piece {
        std::uint64_t offset = 0;
        std::vector<char> bytes;
    };
    // The sub-chunks of a list lie from `begin` to `end`.
    struct Span {
        std::uint64_t begin = 0;
        std::uint64_t end = 0;
    };
    struct Chunk {
        std::string id;
        std::uint64_t data = 0; // where its data begins
        std::uint64_t size = 0;
    };

    explicit SoundfontFile(std::string path);
    std::string OpenDescriptor();
    bool ReadStructure();
    bool ReadInfo(Span list);
    std::optional<std::uint64_t> ReadSampleData(Span list);
    bool ReadPresetData(Span list, std::uint64_t samplePoints);
    std::optional<Span> ListAt(std::uint64_t position, const char* type);
    std::optional<Chunk> ChunkAt(std::uint64_t position, std::uint64_t end);
    bool Keep(std::uint64_t offset, std::uint64_t count);
    // The kept piece that holds the byte at `offset`, or null.
    const Piece* PieceAt(std::uint64_t offset) const;
    const char* Kept(std::uint64_t offset) const;
    bool Unchanged() const;

    std::string m_path;
    std::string m_loaderName;
    int m_descriptor = -1;
    std::uint64_t m_size = 0;
    std::timespec m_modified{};
    std::vector<Piece> m_pieces;
    mutable std::atomic<unsigned> m_failedSampleReads{0};
};
