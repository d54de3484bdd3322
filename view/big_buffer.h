// Storage of the view engines' per-pixel arrays (coordinate maps, stitching codes, plans): tens of
// megabytes whose first touch, page by page, costs a new handle several times its whole Init.
// Blocks of at least kBigBlockBytes are taken in huge-page-sized steps, and a released handle's
// blocks wait in a pool for the next handle instead of going back to the system.
//
// A BigVector does not zero what it grows by (resize(n) leaves new elements unset, as new T[n]
// does): every user writes the whole array before reading it, or assigns a value explicitly.
#ifndef MZ_VIEW_BIG_BUFFER_H
#define MZ_VIEW_BIG_BUFFER_H

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace mz {

// Blocks below this size are plain heap blocks.
constexpr std::size_t kBigBlockBytes = std::size_t{1} << 20;

// A block of at least `bytes` (aligned for any scalar type); throws std::bad_alloc.
void* takeBlock(std::size_t bytes);
// Gives back a block of takeBlock(bytes).
void giveBlock(void* block, std::size_t bytes) noexcept;
// Bytes the pool holds for later handles, and the pool handed back to the system (for the tests).
std::size_t pooledBytes();
void emptyPool();

template <class T>
struct BigAllocator {
    static_assert(std::is_trivially_destructible_v<T>, "the pool holds plain data");
    using value_type = T;

    BigAllocator() = default;
    template <class U>
    BigAllocator(const BigAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        return static_cast<T*>(takeBlock(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept { giveBlock(p, n * sizeof(T)); }

    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... A>
    void construct(U* p, A&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<A>(args)...);
    }

    template <class U>
    bool operator==(const BigAllocator<U>&) const noexcept {
        return true;
    }
};

template <class T>
using BigVector = std::vector<T, BigAllocator<T>>;

// Rows of floats in one block, for the geometry's functions that take float** rows.
class FloatRowBlock {
public:
    // height rows of `count` floats, unset (as a BigVector grows): the caller writes every entry
    // before it reads one, on as many threads as it likes, so the first touch of new pages is
    // shared by them. Returns the rows.
    float** assign(int height, int count) {
        const std::size_t n = static_cast<std::size_t>(count);
        data_.clear();
        data_.resize(static_cast<std::size_t>(height) * n);
        rows_.resize(static_cast<std::size_t>(height));
        for (std::size_t r = 0; r < rows_.size(); ++r) rows_[r] = data_.data() + r * n;
        return rows_.data();
    }
    void release() {
        BigVector<float>().swap(data_);
        std::vector<float*>().swap(rows_);
    }

private:
    BigVector<float> data_;
    std::vector<float*> rows_;
};

}  // namespace mz

#endif
