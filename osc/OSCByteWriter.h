#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace vitrine {

// The encoders' side of OSCByteReader: a bounds-checked cursor over a buffer it does not own.
// A write that does not fit writes nothing and marks the writer failed, and every later write is
// refused too, so an encoder whose length and writing disagree cannot run past its buffer; the
// packet checks failed() (and that the buffer was filled exactly) once at the end.
// Thread safety: distinct objects safe; a shared writer is unsafe.
class OSCByteWriter {
public:
    explicit OSCByteWriter(std::span<uint8_t> bytes) : bytes(bytes) {}

    size_t position() const { return at; }
    size_t remaining() const { return bytes.size() - at; }
    bool failed() const { return overflow; }
    // Everything written, nothing left over and no write refused.
    bool complete() const { return !overflow && at == bytes.size(); }
    // For an encoder that finds it cannot write what it promised.
    void fail() { overflow = true; }

    // Room for the next `count` bytes, or nothing (and the writer failed) when they do not fit.
    uint8_t* take(size_t count) {
        if (overflow || count > bytes.size() - at) {
            overflow = true;
            return nullptr;
        }
        uint8_t* const start = bytes.data() + at;
        at += count;
        return start;
    }
    // A writer over the next `count` bytes, which this one steps over; an empty, failed writer
    // when they do not fit.
    OSCByteWriter split(size_t count) {
        uint8_t* const start = take(count);
        OSCByteWriter part(start ? std::span<uint8_t>(start, count) : std::span<uint8_t>());
        part.overflow = !start;
        return part;
    }

    void put8(uint8_t byte) {
        if (uint8_t* out = take(1)) *out = byte;
    }
    // Big-endian, as every OSC number is.
    void put32(uint32_t word) {
        if (uint8_t* out = take(4)) store32(out, word);
    }
    void put64(uint64_t word) {
        if (uint8_t* out = take(8)) {
            store32(out, static_cast<uint32_t>(word >> 32));
            store32(out + 4, static_cast<uint32_t>(word));
        }
    }
    void putBytes(const void* source, size_t count) {
        if (uint8_t* out = take(count); out && count) std::memcpy(out, source, count);
    }
    // `count` bytes followed by the zeros that end the field on a multiple of 4: at least one for
    // a string (its NUL), none beyond the bytes for a blob.
    void putPadded(const void* source, size_t count, bool terminated) {
        const size_t field = ((count + (terminated ? 4 : 3)) & ~size_t{3});
        if (uint8_t* out = take(field)) {
            if (count) std::memcpy(out, source, count);
            std::memset(out + count, 0, field - count);
        }
    }

    // Zeros to the end: the padding of a field written in pieces.
    void padRest() {
        const size_t count = remaining();
        if (uint8_t* out = take(count); out && count) std::memset(out, 0, count);
    }

    static constexpr void store32(uint8_t* out, uint32_t word) {
        out[0] = static_cast<uint8_t>(word >> 24);
        out[1] = static_cast<uint8_t>(word >> 16);
        out[2] = static_cast<uint8_t>(word >> 8);
        out[3] = static_cast<uint8_t>(word);
    }

private:
    std::span<uint8_t> bytes;
    size_t at = 0;
    bool overflow = false;
};

}  // namespace vitrine
