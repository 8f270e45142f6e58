// Shared pieces of the fuzzing harnesses: the invariant check, the input copy
// a reader that splits an input into fields, and the synthetic ridge frame
// the stored-template harness and its seeds share.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

// Stops the run when an invariant fails; libFuzzer keeps the input.
#define FUZZ_CHECK(condition)         \
    do {                              \
        if (!(condition)) {           \
            __builtin_trap();         \
        }                             \
    } while (0)

namespace fuzz {

// The input in a heap buffer of exactly its size, so that any read past its
// end reaches the allocator's redzone.
class ExactCopy {
public:
    ExactCopy(const uint8_t* data, size_t size)
        : bytes_(static_cast<uint8_t*>(std::malloc(size == 0 ? 1 : size))), size_(size) {
        FUZZ_CHECK(bytes_ != nullptr);
        if (size != 0) std::memcpy(bytes_, data, size);
    }
    ~ExactCopy() { std::free(bytes_); }
    ExactCopy(const ExactCopy&) = delete;
    ExactCopy& operator=(const ExactCopy&) = delete;

    uint8_t* data() const { return bytes_; }
    uint32_t size() const { return static_cast<uint32_t>(size_); }

private:
    uint8_t* bytes_;
    size_t size_;
};

// Takes fields from the front of an input; past its end every field reads 0.
class FieldReader {
public:
    FieldReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t u8() { return offset_ < size_ ? data_[offset_++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(u8() << 8 | u8()); }
    uint32_t u32() { return static_cast<uint32_t>(u16()) << 16 | u16(); }
    // The bytes not read yet.
    const uint8_t* rest() const { return data_ + offset_; }
    size_t rest_size() const { return size_ - offset_; }
    // Up to `count` bytes from the front; the span may be shorter.
    size_t take(size_t count, const uint8_t** out) {
        const size_t n = count < rest_size() ? count : rest_size();
        *out = data_ + offset_;
        offset_ += n;
        return n;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t offset_ = 0;
};

// True when [inner, inner + inner_size) lies inside [outer, outer + outer_size).
inline bool span_inside(const uint8_t* inner, size_t inner_size, const uint8_t* outer, size_t outer_size) {
    if (inner_size == 0) return true;
    if (inner == nullptr || outer == nullptr) return false;
    const auto in = reinterpret_cast<uintptr_t>(inner);
    const auto out = reinterpret_cast<uintptr_t>(outer);
    return in >= out && in - out <= outer_size && inner_size <= outer_size - (in - out);
}

// A rows x cols frame of concentric ridges around a point off the window
// with a slow spiral, so that ridges end and fork inside it.
inline std::vector<uint8_t> ridge_frame(int rows, int cols) {
    std::vector<uint8_t> px(size_t(rows) * size_t(cols));
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            const double dy = r - 60.0, dx = c - 30.0;
            const double phase = std::sqrt(dx * dx + dy * dy) * 0.66 + 3.0 * std::atan2(dy, dx);
            px[size_t(r) * size_t(cols) + size_t(c)] = uint8_t(128 + 100 * std::cos(phase));
        }
    return px;
}

}  // namespace fuzz
