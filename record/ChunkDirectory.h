#pragma once

#include <array>
#include <atomic>
#include <cstddef>

namespace qm45 {

// The chunks of an append-only container, found by chunk number. Chunks are
// allocated once and never move or go away before the directory does, so an
// element's address stays valid for the directory's life.
//
// Threads: one writer (the thread that calls chunkForWrite) and any number of
// readers. A reader may look up a chunk only for an element whose existence it
// learned through an acquire load of a count the writer stored with release
// after creating that chunk; the pointers themselves are atomics so a lookup
// never races with the writer filling in a later slot.
//
// Two levels of fixed tables rather than one growing array: growing would copy
// the pointers while a reader walks them.
template <typename Chunk, std::size_t BlockSize = 1024, std::size_t TopSize = 1024>
class ChunkDirectory {
public:
    static constexpr std::size_t kMaxChunks = BlockSize * TopSize;

    ChunkDirectory() = default;
    ChunkDirectory(const ChunkDirectory&) = delete;
    ChunkDirectory& operator=(const ChunkDirectory&) = delete;
    ~ChunkDirectory() {
        for (auto& slot : top_) {
            Block* block = slot.load(std::memory_order_relaxed);
            if (!block)
                continue;
            for (auto& chunk : *block)
                delete chunk.load(std::memory_order_relaxed);
            delete block;
        }
    }

    [[nodiscard]] const Chunk* chunk(std::size_t index) const {
        const Block* block = top_[index / BlockSize].load(std::memory_order_acquire);
        return (*block)[index % BlockSize].load(std::memory_order_acquire);
    }

    // Writer only. The chunk with this number, created when missing; nullptr
    // past the last chunk the directory can hold.
    [[nodiscard]] Chunk* chunkForWrite(std::size_t index) {
        if (index >= kMaxChunks)
            return nullptr;
        Block* block = top_[index / BlockSize].load(std::memory_order_relaxed);
        if (!block) {
            block = new Block{};
            top_[index / BlockSize].store(block, std::memory_order_release);
            ++blocks_;
        }
        Chunk* c = (*block)[index % BlockSize].load(std::memory_order_relaxed);
        if (!c) {
            c = new Chunk;
            (*block)[index % BlockSize].store(c, std::memory_order_release);
            ++chunks_;
        }
        return c;
    }

    // Writer only.
    [[nodiscard]] std::size_t memoryBytes() const {
        return sizeof(*this) + blocks_ * sizeof(Block) + chunks_ * sizeof(Chunk);
    }

private:
    using Block = std::array<std::atomic<Chunk*>, BlockSize>;
    std::array<std::atomic<Block*>, TopSize> top_{};
    std::size_t blocks_ = 0;
    std::size_t chunks_ = 0;
};

} // namespace qm45
