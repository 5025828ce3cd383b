#include "sound/soundfont_file.h"

#include <fluidsynth.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string_view>

namespace {

constexpr std::uint64_t kChunkHeader = 8; // four-letter id, 32-bit little-endian size
constexpr std::uint64_t kListHeader = 12; // a chunk header and the list's four-letter type

// The preset data's sub-chunks in the order FluidSynth reads them, with the size of one record:
// a chunk that is no whole number of records, or has not even the closing one, is damaged.
struct PresetChunk {
    std::string_view id;
    std::uint32_t recordSize;
};
// clang-format off
constexpr std::array<PresetChunk, 9> kPresetChunks = {{
    {"phdr", 38}, {"pbag", 4}, {"pmod", 10}, {"pgen", 4}, {"inst", 22},
    {"ibag", 4}, {"imod", 10}, {"igen", 4}, {"shdr", 46},
}};
// clang-format on

struct ChunkHeader {
    std::string_view id;
    std::uint64_t size = 0;
};

ChunkHeader HeaderAt(const char* bytes)
{
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    return {std::string_view(bytes, 4), std::uint64_t(b[4]) | std::uint64_t(b[5]) << 8 |
                                            std::uint64_t(b[6]) << 16 | std::uint64_t(b[7]) << 24};
}

// All `count` bytes at `offset`, or false.
bool ReadFully(int descriptor, char* to, std::uint64_t count, std::uint64_t offset)
{
    while (count > 0) {
        const ssize_t got = pread(descriptor, to, count, off_t(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        to += got;
        offset += std::uint64_t(got);
        count -= std::uint64_t(got);
    }
    return true;
}

// RIFF pads a chunk of odd size to an even one.
std::uint64_t Padded(std::uint64_t size) { return size + (size & 1); }

// ---- The loader's side: files by the name FluidSynth is given, and its readers -------------

// Never destroyed: a synth may still close its soundfont from a handler that runs at exit,
// after the statics built later than that handler's registration are gone.
std::mutex& RegistryMutex()
{
    static auto* const mutex = new std::mutex;
    return *mutex;
}

std::map<std::string, const SoundfontFile*>& Registry()
{
    static auto* const files = new std::map<std::string, const SoundfontFile*>;
    return *files;
}

// Files opened so far in the process, which number their loader names.
std::atomic<unsigned long> g_filesOpened{0};

struct Reader {
    const SoundfontFile* file;
    std::uint64_t position = 0;
};

void* OpenReader(const char* name)
{
    std::lock_guard lock(RegistryMutex());
    const auto found = Registry().find(name ? name : "");
    return found == Registry().end() ? nullptr : new Reader{found->second};
}

int ReadThrough(void* buffer, fluid_long_long_t count, void* handle)
{
    auto* reader = static_cast<Reader*>(handle);
    if (count < 0 || !reader->file->Read(reader->position, buffer, std::uint64_t(count)))
        return FLUID_FAILED;
    reader->position += std::uint64_t(count);
    return FLUID_OK;
}

int SeekReader(void* handle, fluid_long_long_t offset, int origin)
{
    auto* reader = static_cast<Reader*>(handle);
    const auto size = fluid_long_long_t(reader->file->Size());
    fluid_long_long_t base = 0;
    if (origin == SEEK_CUR)
        base = fluid_long_long_t(reader->position);
    else if (origin == SEEK_END)
        base = size;
    const fluid_long_long_t target = base + offset;
    if (target < 0 || target > size)
        return FLUID_FAILED;
    reader->position = std::uint64_t(target);
    return FLUID_OK;
}

fluid_long_long_t TellReader(void* handle)
{
    return fluid_long_long_t(static_cast<Reader*>(handle)->position);
}

int CloseReader(void* handle)
{
    delete static_cast<Reader*>(handle);
    return FLUID_OK;
}

} // namespace

// Opens without waiting: a FIFO put at the file's place after it was found would otherwise hold
// the open until something writes to it. Anything but a regular file is refused.
std::unique_ptr<SoundfontFile> SoundfontFile::Open(const std::string& path)
{
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (descriptor < 0)
        return nullptr;
    struct stat status {};
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(descriptor);
        return nullptr;
    }
    std::unique_ptr<SoundfontFile> file(new SoundfontFile(path, descriptor, std::uint64_t(status.st_size)));
    if (!file->ReadStructure())
        return nullptr;
    std::lock_guard lock(RegistryMutex());
    Registry()[file->m_loaderName] = file.get();
    return file;
}

// A name no other loader can open, as /dev/null is no folder, and a new one for every file
// opened. FluidSynth's other loaders try the name when its own parse fails (libinstpatch would
// parse the file again and complain on the terminal), and its sample cache, which all synths of
// the process share, keys what it reads on the name: under a name used twice, such as a reused
// descriptor's, one file's samples could be handed out as another's. The modification time the
// cache also keys on is unknown under this name, so it plays no part.
SoundfontFile::SoundfontFile(std::string path, int descriptor, std::uint64_t size)
    : m_path(std::move(path)), m_loaderName("/dev/null/varnek-soundfont-" + std::to_string(++g_filesOpened)),
      m_descriptor(descriptor), m_size(size)
{
}

SoundfontFile::~SoundfontFile()
{
    {
        std::lock_guard lock(RegistryMutex());
        const auto found = Registry().find(m_loaderName);
        if (found != Registry().end() && found->second == this)
            Registry().erase(found);
    }
    close(m_descriptor);
}

fluid_sfloader_t* SoundfontFile::NewLoader(fluid_settings_t* settings)
{
    fluid_sfloader_t* loader = new_fluid_defsfloader(settings);
    if (loader)
        fluid_sfloader_set_callbacks(loader, OpenReader, ReadThrough, SeekReader, TellReader, CloseReader);
    return loader;
}

bool SoundfontFile::Read(std::uint64_t offset, void* buffer, std::uint64_t count) const
{
    for (const Piece& piece : m_pieces) {
        if (offset >= piece.offset && offset + count <= piece.offset + piece.bytes.size()) {
            std::memcpy(buffer, piece.bytes.data() + (offset - piece.offset), count);
            return true;
        }
    }
    return ReadFully(m_descriptor, static_cast<char*>(buffer), count, offset);
}

// Keeps `count` bytes at `offset` in memory, joined to the piece before when they follow it.
bool SoundfontFile::Keep(std::uint64_t offset, std::uint64_t count)
{
    if (offset + count > m_size)
        return false;
    if (m_pieces.empty() || m_pieces.back().offset + m_pieces.back().bytes.size() != offset)
        m_pieces.push_back({offset, {}});
    std::vector<char>& bytes = m_pieces.back().bytes;
    const std::size_t start = bytes.size();
    bytes.resize(start + count);
    return ReadFully(m_descriptor, bytes.data() + start, count, offset);
}

// RIFF "sfbk" holding, in this order, the lists INFO, sdta (the samples) and pdta (the presets),
// each chunk within its list and the whole exactly filling the file. Everything but the sample
// data is read into memory on the way.
bool SoundfontFile::ReadStructure()
{
    if (!Keep(0, kListHeader))
        return false;
    const char* riff = m_pieces.back().bytes.data();
    const ChunkHeader file = HeaderAt(riff);
    if (file.id != "RIFF" || std::string_view(riff + 8, 4) != "sfbk" || file.size + kChunkHeader != m_size)
        return false;

    std::uint64_t position = kListHeader;
    for (const std::string_view type : {"INFO", "sdta", "pdta"}) {
        // The list's header joins the piece before; the sample data itself stays on disk.
        if (!Keep(position, kListHeader))
            return false;
        const char* header = m_pieces.back().bytes.data() + (position - m_pieces.back().offset);
        const ChunkHeader list = HeaderAt(header);
        const std::uint64_t end = position + kChunkHeader + Padded(list.size);
        if (list.id != "LIST" || std::string_view(header + 8, 4) != type || list.size < 4 || end > m_size)
            return false;
        std::uint64_t chunk = position + kListHeader;
        std::size_t presetChunk = 0;
        while (chunk < end) {
            if (chunk + kChunkHeader > end || !Keep(chunk, kChunkHeader))
                return false;
            const Piece& piece = m_pieces.back();
            const ChunkHeader sub = HeaderAt(piece.bytes.data() + (chunk - piece.offset));
            const std::uint64_t data = chunk + kChunkHeader;
            if (data + sub.size > end)
                return false;
            if (type == "sdta") {
                if (chunk == position + kListHeader && sub.id != "smpl")
                    return false;
            } else {
                if (type == "pdta") {
                    if (presetChunk == kPresetChunks.size() || sub.id != kPresetChunks[presetChunk].id ||
                        sub.size == 0 || sub.size % kPresetChunks[presetChunk].recordSize != 0)
                        return false;
                    ++presetChunk;
                }
                if (!Keep(data, Padded(sub.size)))
                    return false;
            }
            chunk = data + Padded(sub.size);
        }
        if (type == "pdta" && presetChunk != kPresetChunks.size())
            return false;
        position = end;
    }
    return position == m_size;
}
