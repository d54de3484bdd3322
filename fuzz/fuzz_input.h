// Reads the fields of a structured fuzz input from the front of the bytes. Past the end every
// read gives zero, so any input decodes to some record; what is left serves as picture bytes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace mzfuzz {

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    void bytes(void* dst, size_t n) {
        const size_t take = std::min(n, size_ - pos_);
        if (take) std::memcpy(dst, data_ + pos_, take);
        if (take < n) std::memset(static_cast<uint8_t*>(dst) + take, 0, n - take);
        pos_ += take;
    }
    template <typename T>
    T take() {
        T value;
        bytes(&value, sizeof value);
        return value;
    }
    // A whole number in [lo, hi].
    int range(int lo, int hi) {
        const uint32_t v = take<uint32_t>();
        return lo + static_cast<int>(v % static_cast<uint32_t>(hi - lo + 1));
    }
    // n bytes of picture: the rest of the input, repeated, or a grey level when nothing is left.
    std::vector<uint8_t> picture(size_t n) {
        std::vector<uint8_t> out(n, 128);
        const size_t left = size_ - pos_;
        if (left)
            for (size_t i = 0; i < n; ++i) out[i] = data_[pos_ + i % left];
        return out;
    }
    size_t remaining() const { return size_ - pos_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

}  // namespace mzfuzz
