// Zip archives built in memory for the tests, with headers that may lie.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace qelda::testing {

struct ZipEntry {
    std::string name;
    std::string data;
    bool deflate = false;
    // The uncompressed size the headers state; the real size when left as is.
    std::uint64_t declared_size = std::numeric_limits<std::uint64_t>::max();
    std::uint16_t flags = 0;  // bit 0: encrypted
};

inline void put16(std::string& s, std::uint32_t v) {
    s += static_cast<char>(v & 0xff);
    s += static_cast<char>((v >> 8) & 0xff);
}
inline void put32(std::string& s, std::uint32_t v) {
    put16(s, v & 0xffff);
    put16(s, v >> 16);
}

inline std::string raw_deflate(const std::string& data) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

inline std::string make_zip(const std::vector<ZipEntry>& entries) {
    std::string zip, directory;
    for (const ZipEntry& e : entries) {
        const std::string body = e.deflate ? raw_deflate(e.data) : e.data;
        const auto crc = static_cast<std::uint32_t>(crc32(
            0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
        const std::uint64_t size = e.declared_size == std::numeric_limits<std::uint64_t>::max()
                                       ? e.data.size()
                                       : e.declared_size;
        auto header = [&](std::string& s, bool central, std::uint32_t offset) {
            put32(s, central ? 0x02014b50 : 0x04034b50);
            if (central) put16(s, 20);
            put16(s, 20);
            put16(s, e.flags);
            put16(s, e.deflate ? 8 : 0);
            put32(s, 0);  // time and date
            put32(s, crc);
            put32(s, static_cast<std::uint32_t>(body.size()));
            put32(s, static_cast<std::uint32_t>(size));
            put16(s, static_cast<std::uint32_t>(e.name.size()));
            put16(s, 0);
            if (central) {
                put16(s, 0);  // comment, disk, attributes
                put16(s, 0);
                put16(s, 0);
                put32(s, 0);
                put32(s, offset);
            }
            s += e.name;
        };
        const auto offset = static_cast<std::uint32_t>(zip.size());
        header(zip, false, 0);
        zip += body;
        header(directory, true, offset);
    }
    const auto at = static_cast<std::uint32_t>(zip.size());
    zip += directory;
    put32(zip, 0x06054b50);
    put32(zip, 0);
    put16(zip, static_cast<std::uint32_t>(entries.size()));
    put16(zip, static_cast<std::uint32_t>(entries.size()));
    put32(zip, static_cast<std::uint32_t>(directory.size()));
    put32(zip, at);
    put16(zip, 0);
    return zip;
}

}  // namespace qelda::testing
