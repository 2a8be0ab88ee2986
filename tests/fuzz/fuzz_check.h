#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

// A failed property must stop libFuzzer with a crash file, so assert() (gone under NDEBUG) will not
// do.
#define KV_FUZZ_CHECK(cond, ...)                                                          \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::fprintf(stderr, __VA_ARGS__);                                            \
            std::fprintf(stderr, "\n");                                                   \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

namespace kv::fuzz {

// Hands out the fuzz bytes piece by piece; an exhausted input reads as zeros.
class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::size_t Left() const { return size_ - pos_; }

    std::uint8_t U8() { return pos_ < size_ ? data_[pos_++] : 0; }

    std::uint32_t U32() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            v |= std::uint32_t(U8()) << (8 * i);
        }
        return v;
    }

    std::uint64_t U64() { return std::uint64_t(U32()) | std::uint64_t(U32()) << 32; }

    std::string_view Bytes(std::size_t n) {
        n = n < Left() ? n : Left();
        std::string_view out(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return out;
    }

    std::string_view Rest() { return Bytes(Left()); }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// Readable form of arbitrary bytes for failure messages.
inline std::string Escape(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += char(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

}  // namespace kv::fuzz
