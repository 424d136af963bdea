// Little-endian numbers in output headers, byte by byte, whatever the host.
#pragma once

#include <cstdint>

inline void put_le16(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void put_le32(std::uint8_t* at, std::uint32_t value) {
    put_le16(at, value);
    put_le16(at + 2, value >> 16);
}
