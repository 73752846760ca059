/*
** Little-endian fields in a file's bytes, for the tools that write PE files
** and the tests that read and damage them (the offsets are in
** engine/pe_layout.h). A read outside the bytes gives 0; a write must fit.
*/
#ifndef TOOLS_PE_BYTES_H
#define TOOLS_PE_BYTES_H

#include "engine/pe_layout.h"

#include <cstdint>
#include <vector>

namespace pebytes {

inline uint32_t Get16(const std::vector<uint8_t>& b, uint64_t at) {
    return at + 2 <= b.size() ? pe::Le16(&b[at]) : 0;
}
inline uint32_t Get32(const std::vector<uint8_t>& b, uint64_t at) {
    return at + 4 <= b.size() ? pe::Le32(&b[at]) : 0;
}
inline void Put16(std::vector<uint8_t>& b, uint64_t at, uint32_t v) {
    b.at(at) = (uint8_t)v;
    b.at(at + 1) = (uint8_t)(v >> 8);
}
inline void Put32(std::vector<uint8_t>& b, uint64_t at, uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}
inline void Put64(std::vector<uint8_t>& b, uint64_t at, uint64_t v) {
    Put32(b, at, (uint32_t)v);
    Put32(b, at + 4, (uint32_t)(v >> 32));
}

} // namespace pebytes

#endif
