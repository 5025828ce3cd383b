#pragma once
// Where a recording client puts what it hears: a file of blocks, each a header saying when its
// first frame sounded, followed by its frames as interleaved float stereo. Blocks are handed
// over from the sound server's real-time thread into a ring of fixed size, and a thread of the
// file's own writes them out, so the real-time thread never waits for the disk. A block that
// finds the ring full is dropped and counted.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

class RecordFile {
public:
    // The header of every block, as tools/audio_bench.py reads it: little-endian, no padding.
    struct Block {
        std::uint64_t cycleNsec = 0; // the graph's cycle it arrived in, CLOCK_MONOTONIC
        std::uint64_t position = 0;  // the graph's position then, in frames
        std::uint32_t duration = 0;  // the cycle's length, in frames
        std::uint32_t rate = 0;      // frames per second
        std::uint32_t frames = 0;    // frames that follow
        std::uint32_t flags = 0;     // kDated, kHole
    };
    // cycleNsec is the first frame's own date, not a cycle's.
    static constexpr std::uint32_t kDated = 1;
    // The server lost what was here: the frames are silence in its place.
    static constexpr std::uint32_t kHole = 2;
    static constexpr int kChannels = 2;

    explicit RecordFile(const std::string& path, std::size_t ringBytes = std::size_t(32) << 20);
    ~RecordFile();
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    bool IsOpen() const { return m_file != nullptr; }
    // Real-time safe: copies the block into the ring, or counts it lost.
    void Append(const Block& block, const float* interleaved);
    std::uint64_t LostBlocks() const { return m_lost.load(); }

private:
    void Put(std::uint64_t at, const void* bytes, std::size_t size);
    void WriteOut();

    std::FILE* m_file = nullptr;
    std::vector<std::uint8_t> m_ring;
    std::atomic<std::uint64_t> m_written{0}; // bytes put into the ring, ever
    std::atomic<std::uint64_t> m_read{0};    // bytes taken out of it, ever
    std::atomic<std::uint64_t> m_lost{0};
    std::atomic<bool> m_stopping{false};
    std::thread m_writer;
};
