#include "bench/clients/record_file.h"

#include <algorithm>
#include <chrono>
#include <cstring>

static_assert(sizeof(RecordFile::Block) == 32, "the block header is read as 32 bytes");

RecordFile::RecordFile(const std::string& path, std::size_t ringBytes)
    : m_file(std::fopen(path.c_str(), "wb")), m_ring(ringBytes)
{
    if (m_file)
        m_writer = std::thread([this] { WriteOut(); });
}

RecordFile::~RecordFile()
{
    m_stopping.store(true);
    if (m_writer.joinable())
        m_writer.join();
    if (m_file)
        std::fclose(m_file);
}

void RecordFile::Append(const Block& block, const float* interleaved)
{
    const std::size_t sampleBytes = std::size_t(block.frames) * kChannels * sizeof(float);
    const std::uint64_t at = m_written.load(std::memory_order_relaxed);
    if (at + sizeof block + sampleBytes - m_read.load(std::memory_order_acquire) > m_ring.size()) {
        m_lost.fetch_add(1);
        return;
    }
    Put(at, &block, sizeof block);
    Put(at + sizeof block, interleaved, sampleBytes);
    m_written.store(at + sizeof block + sampleBytes, std::memory_order_release);
}

void RecordFile::Put(std::uint64_t at, const void* bytes, std::size_t size)
{
    const std::size_t start = std::size_t(at % m_ring.size());
    const std::size_t first = std::min(size, m_ring.size() - start);
    std::memcpy(m_ring.data() + start, bytes, first);
    std::memcpy(m_ring.data(), static_cast<const std::uint8_t*>(bytes) + first, size - first);
}

// Every few milliseconds, whatever the ring holds goes to the file; the rest once stopped.
void RecordFile::WriteOut()
{
    for (;;) {
        const bool last = m_stopping.load();
        const std::uint64_t end = m_written.load(std::memory_order_acquire);
        std::uint64_t from = m_read.load(std::memory_order_relaxed);
        while (from < end) {
            const std::size_t start = std::size_t(from % m_ring.size());
            const std::size_t size = std::size_t(std::min<std::uint64_t>(end - from, m_ring.size() - start));
            std::fwrite(m_ring.data() + start, 1, size, m_file);
            from += size;
            m_read.store(from, std::memory_order_release);
        }
        std::fflush(m_file);
        if (last)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}
