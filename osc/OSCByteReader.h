#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

namespace vitrine {

// A read-only, bounds-checked view of received bytes for the decoders. Every read names its
// position and gives nothing, rather than touch a byte at or beyond the end, so a decoder can
// never be walked off its datagram by a length or offset that the sender chose. Positions are
// size_t: a position past the end is allowed and simply has nothing left to read.
// Thread safety: a view of bytes it does not own; safe for concurrent reading while they live.
class OSCByteReader {
public:
    explicit OSCByteReader(std::span<const uint8_t> bytes) : bytes(bytes) {}

    size_t size() const { return bytes.size(); }
    const uint8_t* data() const { return bytes.data(); }

    // Bytes from `position` to the end; 0 at or beyond the end.
    size_t remaining(size_t position) const {
        return position < bytes.size() ? bytes.size() - position : 0;
    }
    bool has(size_t position, size_t count) const { return count <= remaining(position); }

    std::optional<uint8_t> byteAt(size_t position) const {
        if (!has(position, 1)) return std::nullopt;
        return bytes[position];
    }
    // Big-endian, as every OSC number is.
    std::optional<uint32_t> readUInt32(size_t position) const {
        if (!has(position, 4)) return std::nullopt;
        return bigEndian32(bytes.data() + position);
    }
    std::optional<uint64_t> readUInt64(size_t position) const {
        if (!has(position, 8)) return std::nullopt;
        return bigEndian64(bytes.data() + position);
    }
    // Index of the first NUL at or after `position`, or nothing when the bytes end first.
    std::optional<size_t> findNul(size_t position) const {
        if (position >= bytes.size()) return std::nullopt;
        const void* nul = std::memchr(bytes.data() + position, 0, bytes.size() - position);
        if (!nul) return std::nullopt;
        return static_cast<size_t>(static_cast<const uint8_t*>(nul) - bytes.data());
    }
    // True when the bytes at `position` are `text`; bytes at or beyond the end never match.
    bool startsWith(size_t position, std::string_view text) const {
        if (!has(position, text.size())) return false;
        for (size_t i = 0; i < text.size(); ++i) {
            if (bytes[position + i] != static_cast<uint8_t>(text[i])) return false;
        }
        return true;
    }
    // `count` bytes at `position`, or an empty span when they are not all there.
    std::span<const uint8_t> subspan(size_t position, size_t count) const {
        if (!has(position, count)) return {};
        return bytes.subspan(position, count);
    }

    // Decoding of bytes already known to be there.
    static constexpr uint32_t bigEndian32(const uint8_t* p) {
        return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
    }
    static constexpr uint64_t bigEndian64(const uint8_t* p) {
        return (uint64_t{bigEndian32(p)} << 32) | bigEndian32(p + 4);
    }

    // OSC fields end on a multiple of 4. Strings end strictly above their NUL's index; blobs at
    // or after their last byte.
    static constexpr size_t nextMultipleOf4Above(size_t index) { return (index + 4) & ~size_t{3}; }
    static constexpr size_t roundUp4(size_t n) { return (n + 3) & ~size_t{3}; }

private:
    std::span<const uint8_t> bytes;
};

}  // namespace vitrine
