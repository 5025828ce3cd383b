#include "sound/soundfont_file.h"

#include "sound/little_endian.h"
#include "sound/preset_data.h"

#include <fluidsynth.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bitset>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <string_view>
#include <system_error>

namespace {

constexpr std::uint64_t kChunkHeader = 8; // four-letter id, 32-bit little-endian size
constexpr std::uint64_t kListHeader = 12; // a chunk header and the list's four-letter type

// The INFO list's sub-chunks and the most bytes the format lets each hold. FluidSynth
// takes no others, and each but the two versions only of an even size.
struct InfoChunk {
    std::string_view id;
    std::uint32_t mostBytes;
    bool exactly; // holds exactly that many: two 16-bit numbers
};
// clang-format off
constexpr std::array<InfoChunk, 11> kInfoChunks = {{
    {"ifil", 4, true},      // the format's version
    {"isng", 256, false},   // the sound engine it was made for
    {"INAM", 256, false},   // the bank's name
    {"irom", 256, false},   // a sound ROM's name
    {"iver", 4, true},      // the sound ROM's version
    {"ICRD", 256, false},   // creation date
    {"IENG", 256, false},   // sound designers
    {"IPRD", 256, false},   // the product it was made for
    {"ICOP", 256, false},   // copyright
    {"ICMT", 65536, false}, // comments
    {"ISFT", 256, false},   // the tools that made it
}};
// clang-format on
constexpr std::uint16_t kMajorVersion = 2;

bool Allows(const InfoChunk& rule, std::uint64_t size)
{
    return rule.exactly ? size == rule.mostBytes : size <= rule.mostBytes && size % 2 == 0;
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

// The bytes from `offset` to `end` that the file holds on disk, rather than as holes that read
// as zeros; counted up to `enough`, which is all the caller needs to know.
std::uint64_t BytesHeld(int descriptor, std::uint64_t offset, std::uint64_t end, std::uint64_t enough)
{
    std::uint64_t held = 0;
    while (offset < end && held < enough) {
        const off_t data = lseek(descriptor, off_t(offset), SEEK_DATA);
        if (data < 0)
            return errno == ENXIO ? held : end - offset + held; // no holes known: all of it
        const off_t hole = lseek(descriptor, data, SEEK_HOLE);
        if (hole < 0 || std::uint64_t(data) >= end)
            return held;
        held += std::min(std::uint64_t(hole), end) - std::uint64_t(data);
        offset = std::uint64_t(hole);
    }
    return held;
}

// The memory the kernel can give without swapping, as it tells it; unknown, no bound.
std::uint64_t AvailableMemory()
{
    std::FILE* info = std::fopen("/proc/meminfo", "re");
    unsigned long long kilobytes = 0;
    bool found = false;
    for (char line[128]; !found && info && std::fgets(line, sizeof line, info);)
        found = std::sscanf(line, "MemAvailable: %llu kB", &kilobytes) == 1;
    if (info)
        std::fclose(info);
    return found ? std::uint64_t(kilobytes) * 1024 : UINT64_MAX;
}

// RIFF pads a chunk of odd size to an even one.
std::uint64_t Padded(std::uint64_t size) { return size + (size & 1); }

// The first name along the chain of links from `path` that leads nowhere, or empty when `path`
// is no link.
std::string MissingEndOfLink(const std::string& path)
{
    constexpr int kMostLinks = 40; // as many as the kernel follows
    std::error_code error;
    std::filesystem::path link = path;
    if (!std::filesystem::is_symlink(link, error))
        return {};
    for (int hop = 0; hop < kMostLinks && std::filesystem::is_symlink(link, error); ++hop) {
        const std::filesystem::path target = std::filesystem::read_symlink(link, error);
        if (error)
            break;
        link = target.is_absolute() ? target : link.parent_path() / target;
    }
    return link.string();
}

// Why the soundfont at `path` could not be opened, for the user; empty when nothing is there.
std::string WhyItCannotBeOpened(const std::string& path, int error)
{
    if (error == ELOOP)
        return "the soundfont link " + path + " leads round in a loop \u2014 reinstall fluid-soundfont-gm";
    if (error == ENOENT || error == ENOTDIR) {
        const std::string missing = MissingEndOfLink(path);
        if (missing.empty())
            return {};
        return "the soundfont link " + path + " leads to " + missing +
               ", which does not exist \u2014 reinstall fluid-soundfont-gm";
    }
    return "the soundfont " + path + " cannot be read: " + std::generic_category().message(error);
}

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
    return found == Registry().end() ? nullptr : new (std::nothrow) Reader{found->second};
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

std::unique_ptr<SoundfontFile> SoundfontFile::Open(const std::string& path, std::string& refusal)
{
    try {
        std::unique_ptr<SoundfontFile> file(new SoundfontFile(path));
        refusal = file->OpenDescriptor();
        if (file->m_descriptor < 0 || !refusal.empty())
            return nullptr;
        if (!file->ReadStructure()) {
            refusal = Damaged(path);
            return nullptr;
        }
        std::lock_guard lock(RegistryMutex());
        Registry()[file->m_loaderName] = file.get();
        return file;
    } catch (const std::bad_alloc&) {
        // What is kept is bounded whatever the file claims, but the machine may have less still.
        refusal = Damaged(path);
        return nullptr;
    }
}

std::string SoundfontFile::Damaged(const std::string& path)
{
    return "the soundfont " + path + " is damaged or incomplete \u2014 reinstall fluid-soundfont-gm";
}

// A name no other loader can open, as /dev/null is no folder, and a new one for every file
// opened. FluidSynth's other loaders try the name when its own parse fails (libinstpatch would
// parse the file again and complain on the terminal), and its sample cache, which all synths of
// the process share, keys what it reads on the name: under a name used twice, such as a reused
// descriptor's, one file's samples could be handed out as another's. The modification time the
// cache also keys on is unknown under this name, so it plays no part.
SoundfontFile::SoundfontFile(std::string path)
    : m_path(std::move(path)), m_loaderName("/dev/null/varnek-soundfont-" + std::to_string(++g_filesOpened))
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
    if (m_descriptor >= 0)
        close(m_descriptor);
}

// Opens without waiting: a FIFO put at the file's place after it was found would otherwise hold
// the open until something writes to it. Anything but a regular file is refused.
std::string SoundfontFile::OpenDescriptor()
{
    m_descriptor = open(m_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (m_descriptor < 0)
        return WhyItCannotBeOpened(m_path, errno);
    struct stat status {};
    if (fstat(m_descriptor, &status) != 0 || !S_ISREG(status.st_mode))
        return "the soundfont " + m_path + " is not a regular file \u2014 reinstall fluid-soundfont-gm";
    m_size = std::uint64_t(status.st_size);
    m_modified = status.st_mtim;
    return {};
}

fluid_sfloader_t* SoundfontFile::NewLoader(fluid_settings_t* settings)
{
    fluid_sfloader_t* loader = new_fluid_defsfloader(settings);
    if (loader)
        fluid_sfloader_set_callbacks(loader, OpenReader, ReadThrough, SeekReader, TellReader, CloseReader);
    return loader;
}

// Sample data is read from the file as the synth asks for it; a read that would take more memory
// than the machine has to give fails, as the synth has already taken the room for it.
bool SoundfontFile::Read(std::uint64_t offset, void* buffer, std::uint64_t count) const
{
    const Piece* piece = PieceAt(offset);
    if (piece && count <= piece->bytes.size() - (offset - piece->offset)) {
        std::memcpy(buffer, piece->bytes.data() + (offset - piece->offset), count);
        return true;
    }
    if (count <= AvailableMemory() && Unchanged() &&
        ReadFully(m_descriptor, static_cast<char*>(buffer), count, offset))
        return true;
    ++m_failedSampleReads;
    return false;
}

// The file still has the size and modification time it had when it was opened. Written over in
// place, it would hand the synth another file's bytes as samples: loud noise at best.
bool SoundfontFile::Unchanged() const
{
    struct stat status {};
    return fstat(m_descriptor, &status) == 0 && std::uint64_t(status.st_size) == m_size &&
           status.st_mtim.tv_sec == m_modified.tv_sec && status.st_mtim.tv_nsec == m_modified.tv_nsec;
}

// Pieces are kept in the order of the file, so the one that holds an offset is found by halves.
const SoundfontFile::Piece* SoundfontFile::PieceAt(std::uint64_t offset) const
{
    const auto after =
        std::upper_bound(m_pieces.begin(), m_pieces.end(), offset,
                         [](std::uint64_t at, const Piece& piece) { return at < piece.offset; });
    if (after == m_pieces.begin())
        return nullptr;
    const Piece& piece = *std::prev(after);
    return offset - piece.offset < piece.bytes.size() ? &piece : nullptr;
}

// Bytes kept just before, which are there.
const char* SoundfontFile::Kept(std::uint64_t offset) const
{
    const Piece* piece = PieceAt(offset);
    return piece->bytes.data() + (offset - piece->offset);
}

// Keeps `count` bytes at `offset` in memory, after everything kept so far.
bool SoundfontFile::Keep(std::uint64_t offset, std::uint64_t count)
{
    if (offset + count > m_size)
        return false;
    if (count == 0)
        return true;
    Piece piece{offset, std::vector<char>(count)};
    if (!ReadFully(m_descriptor, piece.bytes.data(), count, offset))
        return false;
    m_pieces.push_back(std::move(piece));
    return true;
}

// RIFF "sfbk" holding, in this order, the lists INFO, sdta (the samples) and pdta (the presets),
// each chunk within its list and the whole exactly filling the file.
bool SoundfontFile::ReadStructure()
{
    if (!Keep(0, kListHeader))
        return false;
    const char* riff = Kept(0);
    if (std::string_view(riff, 4) != "RIFF" || std::string_view(riff + 8, 4) != "sfbk" ||
        LittleEndian32(riff + 4) + kChunkHeader != m_size)
        return false;
    const auto info = ListAt(kListHeader, "INFO");
    if (!info || !ReadInfo(*info))
        return false;
    const auto samples = ListAt(info->end, "sdta");
    const auto samplePoints = samples ? ReadSampleData(*samples) : std::nullopt;
    if (!samplePoints)
        return false;
    const auto presets = ListAt(samples->end, "pdta");
    return presets && presets->end == m_size && ReadPresetData(*presets, *samplePoints);
}

// The list of `type` at `position`, its header kept.
std::optional<SoundfontFile::Span> SoundfontFile::ListAt(std::uint64_t position, const char* type)
{
    if (!Keep(position, kListHeader))
        return std::nullopt;
    const char* header = Kept(position);
    const std::uint64_t size = LittleEndian32(header + 4);
    const Span list{position + kListHeader, position + kChunkHeader + Padded(size)};
    if (std::string_view(header, 4) != "LIST" || std::string_view(header + 8, 4) != type || size < 4 ||
        list.end > m_size)
        return std::nullopt;
    return list;
}

// The sub-chunk at `position` of a list that ends at `end`, its header kept.
std::optional<SoundfontFile::Chunk> SoundfontFile::ChunkAt(std::uint64_t position, std::uint64_t end)
{
    if (position + kChunkHeader > end || !Keep(position, kChunkHeader))
        return std::nullopt;
    const char* header = Kept(position);
    Chunk chunk{std::string(header, 4), position + kChunkHeader, LittleEndian32(header + 4)};
    if (chunk.data + Padded(chunk.size) > end)
        return std::nullopt;
    return chunk;
}

// Each sub-chunk the format names at most once and within its size; the version says SoundFont 2.
bool SoundfontFile::ReadInfo(Span list)
{
    std::bitset<kInfoChunks.size()> seen;
    bool versionTwo = false;
    for (std::uint64_t position = list.begin; position < list.end;) {
        const auto chunk = ChunkAt(position, list.end);
        const auto rule =
            std::find_if(kInfoChunks.begin(), kInfoChunks.end(),
                         [&chunk](const InfoChunk& info) { return chunk && info.id == chunk->id; });
        const std::size_t index = std::size_t(rule - kInfoChunks.begin());
        if (rule == kInfoChunks.end() || seen[index] || !Allows(*rule, chunk->size) ||
            !Keep(chunk->data, chunk->size))
            return false;
        seen.set(index);
        if (rule->id == "ifil")
            versionTwo = LittleEndian16(Kept(chunk->data)) == kMajorVersion;
        position = chunk->data + chunk->size;
    }
    return versionTwo;
}

// The 16-bit sample points, then perhaps their low bytes for 24-bit sound, and nothing else. They
// stay on disk; the result is the number of points. Most of them are really there: a file whose
// samples are mostly holes would have the synth fill memory with zeros it never had to read.
std::optional<std::uint64_t> SoundfontFile::ReadSampleData(Span list)
{
    const auto points = ChunkAt(list.begin, list.end);
    if (!points || points->id != "smpl")
        return std::nullopt;
    std::uint64_t position = points->data + Padded(points->size);
    if (position < list.end) {
        const auto lowBytes = ChunkAt(position, list.end);
        if (!lowBytes || lowBytes->id != "sm24")
            return std::nullopt;
        position = lowBytes->data + Padded(lowBytes->size);
    }
    const std::uint64_t half = (list.end - list.begin) / 2;
    if (position != list.end || BytesHeld(m_descriptor, list.begin, list.end, half) < half)
        return std::nullopt;
    return points->size / 2;
}

// The nine tables in the format's order, each a whole number of records, at least the terminal
// one and no more than 16-bit indices can name; then every record is checked.
bool SoundfontFile::ReadPresetData(Span list, std::uint64_t samplePoints)
{
    std::array<std::string_view, PresetData::kTableCount> tables;
    std::array<Chunk, PresetData::kTableCount> chunks;
    std::uint64_t position = list.begin;
    for (std::size_t table = 0; table < chunks.size(); ++table) {
        const auto chunk = ChunkAt(position, list.end);
        const PresetData::Table& rule = PresetData::kTables[table];
        if (!chunk || chunk->id != rule.id || chunk->size == 0 || chunk->size % rule.recordSize != 0 ||
            chunk->size / rule.recordSize > PresetData::kMostRecords || !Keep(chunk->data, chunk->size))
            return false;
        chunks[table] = *chunk;
        position = chunk->data + chunk->size;
    }
    if (position != list.end)
        return false;
    for (std::size_t table = 0; table < tables.size(); ++table)
        tables[table] = {Kept(chunks[table].data), chunks[table].size};
    return PresetData(tables, samplePoints).IsPlayable();
}
