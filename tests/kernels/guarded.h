// Buffers for the kernel checks: 32-byte aligned, between guard zones of a byte
// pattern that no kernel writes, and a bit-exact compare that names the first
// differing element with both values.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "abi/host_api.h"

namespace q5check {

inline constexpr unsigned char kPattern = 0xA5;

/// `count` elements of T after a guard zone and before another, all of the pattern
/// until written: a part a kernel must leave alone keeps it too.
template <class T>
class Guarded {
public:
    static constexpr std::size_t kGuardBytes = 64;  // a multiple of 32: the data stays aligned

    explicit Guarded(std::size_t count)
        : count_(count), storage_(2 * kGuardBytes + count * sizeof(T) + 32, kPattern) {
        auto address = reinterpret_cast<std::uintptr_t>(storage_.data());
        base_ = storage_.data() + (32 - address % 32) % 32;
    }
    Guarded(const Guarded &o) : Guarded(o.count_) {
        std::copy(o.base_, o.base_ + 2 * kGuardBytes + bytes(), base_);
    }
    Guarded &operator=(const Guarded &) = delete;

    T *data() { return reinterpret_cast<T *>(base_ + kGuardBytes); }
    const T *data() const { return reinterpret_cast<const T *>(base_ + kGuardBytes); }
    T &operator[](std::size_t i) { return data()[i]; }
    std::size_t size() const { return count_; }
    std::size_t bytes() const { return count_ * sizeof(T); }

    bool guardsIntact() const {
        for (std::size_t i = 0; i < kGuardBytes; ++i)
            if (base_[i] != kPattern || base_[kGuardBytes + bytes() + i] != kPattern) return false;
        return true;
    }

private:
    std::size_t count_;
    std::vector<unsigned char> storage_;
    unsigned char *base_;
};

inline std::string shown(float v) { return std::to_string(v); }
inline std::string shown(std::int16_t v) { return std::to_string(v); }
inline std::string shown(const PIXEL_YC &p) {
    return "(" + std::to_string(p.y) + ", " + std::to_string(p.cb) + ", " + std::to_string(p.cr) + ")";
}

/// The scalar twin's buffer and the kernel's: the same bytes, and both guard zones
/// untouched.
template <class T>
::testing::AssertionResult same(const Guarded<T> &scalar, const Guarded<T> &simd) {
    if (!scalar.guardsIntact()) return ::testing::AssertionFailure() << "the scalar twin wrote a guard zone";
    if (!simd.guardsIntact()) return ::testing::AssertionFailure() << "a guard zone was written";
    for (std::size_t i = 0; i < scalar.size(); ++i)
        if (std::memcmp(&scalar.data()[i], &simd.data()[i], sizeof(T)) != 0)
            return ::testing::AssertionFailure() << "first difference at element " << i << ": scalar "
                                                 << shown(scalar.data()[i]) << ", kernel " << shown(simd.data()[i]);
    return ::testing::AssertionSuccess();
}

}  // namespace q5check
