// SHA-256 (FIPS 180-4): the digest of a firmware image for the upgrade record, so the line's
// books say exactly which image went into a modem, whatever its file was called.
// Results: digests as 64 lower-case hex digits.
// Thread rule: a Sha256 belongs to one thread; the free function is safe from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class Sha256 {
public:
    Sha256();
    void update(const uint8_t* data, size_t size);
    // The digest of everything given so far; the object must not be updated afterwards.
    std::string hexDigest();

private:
    void compress(const uint8_t* block);

    std::array<uint32_t, 8> state_;
    std::array<uint8_t, 64> buffer_{};
    size_t buffered_ = 0;
    uint64_t totalBytes_ = 0;
};

std::string sha256Hex(const std::string& bytes);
