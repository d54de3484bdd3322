// The pool behind BigAllocator. A fresh block is mapped in huge pages where the system offers them
// (one fault per 2 MB instead of one per 4 kB); a given-back block is kept, up to kPoolBytes in
// all, for the next request it fits without wasting more than a quarter of itself.
#include "view/big_buffer.h"

#include <cstdlib>
#include <mutex>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace mz {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
// Enough for the largest engine (the bowl view, some 70 MB) to be released and made again.
constexpr std::size_t kPoolBytes = std::size_t{160} << 20;

struct Block {
    void* p;
    std::size_t bytes;  // the rounded size it was made with
};

struct Pool {
    std::mutex lock;
    std::vector<Block> blocks;
    std::size_t held = 0;
};

// Never destroyed: a handle may be released by another static object's destructor at exit.
Pool& pool() {
    static Pool* const instance = new Pool;
    return *instance;
}

std::size_t roundedBytes(std::size_t bytes) {
    if (bytes < kBigBlockBytes) return bytes;
    return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

}  // namespace

void* takeBlock(std::size_t bytes) {
    if (bytes == 0) bytes = 1;
    const std::size_t size = roundedBytes(bytes);
    if (size < kBigBlockBytes) return ::operator new(size);
    if (size < bytes) throw std::bad_alloc();
    Pool& p = pool();
    {
        const std::lock_guard<std::mutex> guard(p.lock);
        std::size_t best = p.blocks.size();
        for (std::size_t i = 0; i < p.blocks.size(); ++i) {
            const std::size_t have = p.blocks[i].bytes;
            if (have >= size && have - size <= have / 4 && (best == p.blocks.size() || have < p.blocks[best].bytes))
                best = i;
        }
        if (best != p.blocks.size()) {
            void* const found = p.blocks[best].p;
            p.held -= p.blocks[best].bytes;
            p.blocks.erase(p.blocks.begin() + static_cast<std::ptrdiff_t>(best));
            return found;
        }
    }
    void* const fresh = std::aligned_alloc(kHugePage, size);
    if (fresh == nullptr) throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    madvise(fresh, size, MADV_HUGEPAGE);  // advice only: without huge pages the block works the same
#endif
    return fresh;
}

void giveBlock(void* block, std::size_t bytes) noexcept {
    if (block == nullptr) return;
    if (bytes == 0) bytes = 1;
    const std::size_t size = roundedBytes(bytes);
    if (size < kBigBlockBytes) {
        ::operator delete(block);
        return;
    }
    Pool& p = pool();
    {
        const std::lock_guard<std::mutex> guard(p.lock);
        if (p.held + size <= kPoolBytes) {
            try {
                p.blocks.push_back({block, size});
                p.held += size;
                return;
            } catch (...) {
                // No room in the list: the block goes back to the system.
            }
        }
    }
    std::free(block);
}

std::size_t pooledBytes() {
    Pool& p = pool();
    const std::lock_guard<std::mutex> guard(p.lock);
    return p.held;
}

void emptyPool() {
    Pool& p = pool();
    const std::lock_guard<std::mutex> guard(p.lock);
    for (const Block& b : p.blocks) std::free(b.p);
    p.blocks.clear();
    p.held = 0;
}

}  // namespace mz
