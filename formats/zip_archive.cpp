#include "formats/zip_archive.h"

#include <unzip.h>

#include <algorithm>
#include <cstring>

namespace qelda {
namespace {

struct Cursor {
    std::string_view bytes;
    std::uint64_t pos = 0;
};

// minizip's file functions over a block of memory: the "file name" handed to
// unzOpen2_64 is the cursor itself.
voidpf ZCALLBACK open_memory(voidpf, const void* name, int mode) {
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
    return const_cast<void*>(name);
}

uLong ZCALLBACK read_memory(voidpf, voidpf stream, void* buf, uLong size) {
    auto* c = static_cast<Cursor*>(stream);
    if (c->pos >= c->bytes.size()) return 0;
    const std::uint64_t n = std::min<std::uint64_t>(size, c->bytes.size() - c->pos);
    std::memcpy(buf, c->bytes.data() + c->pos, n);
    c->pos += n;
    return static_cast<uLong>(n);
}

uLong ZCALLBACK write_memory(voidpf, voidpf, const void*, uLong) {
    return 0;
}

ZPOS64_T ZCALLBACK tell_memory(voidpf, voidpf stream) {
    return static_cast<Cursor*>(stream)->pos;
}

long ZCALLBACK seek_memory(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* c = static_cast<Cursor*>(stream);
    std::uint64_t base = 0;
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET:
            base = 0;
            break;
        case ZLIB_FILEFUNC_SEEK_CUR:
            base = c->pos;
            break;
        case ZLIB_FILEFUNC_SEEK_END:
            base = c->bytes.size();
            break;
        default:
            return -1;
    }
    // Offsets are unsigned; one beyond the end of the bytes is an error.
    if (offset > c->bytes.size() || base + offset > c->bytes.size()) return -1;
    c->pos = base + offset;
    return 0;
}

int ZCALLBACK close_memory(voidpf, voidpf) {
    return 0;
}

int ZCALLBACK error_memory(voidpf, voidpf) {
    return 0;
}

// Bytes as whole megabytes, rounded up ("1 MB" for anything up to it).
std::string megabytes(std::uint64_t bytes) {
    return std::to_string((bytes >> 20) + ((bytes & 0xfffff) != 0 ? 1 : 0));
}

}  // namespace

ZipArchive::~ZipArchive() {
    if (handle_ != nullptr) unzClose(static_cast<unzFile>(handle_));
    delete static_cast<Cursor*>(cursor_);
}

bool ZipArchive::looks_like_zip(std::string_view bytes) noexcept {
    return bytes.size() >= 4 && bytes[0] == 'P' && bytes[1] == 'K' &&
           ((bytes[2] == '\x03' && bytes[3] == '\x04') ||
            (bytes[2] == '\x05' && bytes[3] == '\x06'));
}

bool ZipArchive::fail(Error error, std::string text, std::uint64_t offset) {
    error_ = error;
    error_offset_ = offset;
    error_text_ = std::move(text);
    return false;
}

bool ZipArchive::open(std::string_view bytes) {
    if (handle_ != nullptr || cursor_ != nullptr)
        return fail(Error::damaged, "the zip archive is open already");
    if (!looks_like_zip(bytes)) return fail(Error::not_zip, "it is not a zip archive");
    auto* cursor = new Cursor{bytes, 0};
    cursor_ = cursor;
    zlib_filefunc64_def functions{};
    functions.zopen64_file = open_memory;
    functions.zread_file = read_memory;
    functions.zwrite_file = write_memory;
    functions.ztell64_file = tell_memory;
    functions.zseek64_file = seek_memory;
    functions.zclose_file = close_memory;
    functions.zerror_file = error_memory;
    functions.opaque = nullptr;
    unzFile zip = unzOpen2_64(cursor, &functions);
    if (zip == nullptr)
        return fail(Error::damaged,
                    "its zip directory cannot be read (the archive is cut short or damaged)");
    handle_ = zip;
    if (!index_entries()) return false;
    error_ = Error::none;
    error_offset_ = kNoOffset;
    error_text_.clear();
    return true;
}

// One pass over the central directory: the names, where each member's data
// lie, and a check that no two members share bytes.
bool ZipArchive::index_entries() {
    auto zip = static_cast<unzFile>(handle_);
    const std::uint64_t total = static_cast<Cursor*>(cursor_)->bytes.size();
    int status = unzGoToFirstFile(zip);
    while (status == UNZ_OK) {
        unz_file_info64 info{};
        if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
            return fail(Error::damaged,
                        "entry " + std::to_string(names_.size() + 1) +
                            " of its zip directory cannot be read",
                        unzGetOffset64(zip));
        std::string name(info.size_filename, '\0');
        if (unzGetCurrentFileInfo64(zip, &info, name.data(), static_cast<uLong>(name.size() + 1),
                                    nullptr, 0, nullptr, 0) != UNZ_OK)
            return fail(Error::damaged,
                        "entry " + std::to_string(names_.size() + 1) +
                            " of its zip directory cannot be read",
                        unzGetOffset64(zip));
        unz64_file_pos pos{};
        unzGetFilePos64(zip, &pos);
        Entry e;
        e.directory_offset = pos.pos_in_zip_directory;
        e.number = pos.num_of_file;
        e.packed = info.compressed_size;
        e.size = info.uncompressed_size;
        // Where the data start, past the local header (read by minizip).
        if (unzOpenCurrentFile2(zip, nullptr, nullptr, /*raw=*/1) != UNZ_OK)
            return fail(Error::damaged,
                        "member " + name + " cannot be opened (its local header " +
                            "is damaged or lies outside the archive)",
                        e.directory_offset);
        e.data_start = unzGetCurrentFileZStreamPos64(zip);
        unzCloseCurrentFile(zip);
        if (e.data_start > total || e.packed > total - e.data_start)
            return fail(Error::damaged,
                        "member " + name + " runs past the end of the archive " + "(byte " +
                            std::to_string(total) + "): it is cut short",
                        e.data_start);
        if (!index_.emplace(name, names_.size()).second)
            return fail(Error::damaged, "its zip directory names " + name + " twice",
                        e.directory_offset);
        names_.push_back(std::move(name));
        entries_.push_back(e);
        status = unzGoToNextFile(zip);
    }
    if (status != UNZ_END_OF_LIST_OF_FILE)
        return fail(Error::damaged, "its zip directory is damaged after " +
                                        std::to_string(names_.size()) + " entries");
    std::vector<std::size_t> order(entries_.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return entries_[a].data_start < entries_[b].data_start;
    });
    for (std::size_t k = 1; k < order.size(); ++k) {
        const Entry& before = entries_[order[k - 1]];
        const Entry& after = entries_[order[k]];
        // Two entries on one local header, or data running into the next.
        if (after.data_start == before.data_start ||
            after.data_start < before.data_start + before.packed)
            return fail(Error::damaged,
                        "members " + names_[order[k - 1]] + " and " + names_[order[k]] +
                            " share the bytes from " + std::to_string(after.data_start) +
                            " on; a zip archive whose members overlap is refused",
                        after.data_start);
    }
    return true;
}

bool ZipArchive::contains(std::string_view name) const noexcept {
    return index_.find(std::string(name)) != index_.end();
}

bool ZipArchive::read(std::string_view name, std::string& out) {
    out.clear();
    auto zip = static_cast<unzFile>(handle_);
    const std::string member(name);
    if (zip == nullptr) return fail(Error::damaged, "the zip archive is not open");
    const auto found = index_.find(member);
    if (found == index_.end()) return fail(Error::missing, "it has no member " + member);
    const Entry& entry = entries_[found->second];
    const unz64_file_pos pos{entry.directory_offset, entry.number};
    if (unzGoToFilePos64(zip, &pos) != UNZ_OK)
        return fail(Error::damaged,
                    "the directory entry of " + member + " (byte " +
                        std::to_string(entry.directory_offset) + ") cannot be read",
                    entry.directory_offset);
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return fail(Error::damaged,
                    "the directory entry of " + member + " (byte " +
                        std::to_string(entry.directory_offset) + ") cannot be read",
                    entry.directory_offset);
    if (info.uncompressed_size > max_member_)
        return fail(Error::too_large,
                    "member " + member + " would inflate to " + megabytes(info.uncompressed_size) +
                        " MB, more than the " + megabytes(max_member_) +
                        " MB allowed for one member",
                    entry.data_start);
    if (info.uncompressed_size > max_total_ - inflated_)
        return fail(Error::too_large,
                    "member " + member + " would bring what the archive inflates to " +
                        megabytes(inflated_ + info.uncompressed_size) + " MB, more than the " +
                        megabytes(max_total_) + " MB allowed for one input file",
                    entry.data_start);
    if ((info.flag & 1u) != 0)
        return fail(Error::unsupported, "member " + member + " is encrypted", entry.data_start);
    if (info.compression_method != 0 && info.compression_method != Z_DEFLATED)
        return fail(Error::unsupported,
                    "member " + member + " is packed with method " +
                        std::to_string(info.compression_method) +
                        "; only stored and deflated members can be read",
                    entry.data_start);
    if (unzOpenCurrentFile(zip) != UNZ_OK)
        return fail(Error::damaged,
                    "member " + member + " cannot be opened (its local header is damaged)",
                    entry.data_start);

    // Grows as the data come, so that a size the header only claims costs
    // nothing; minizip stops inflating at the declared size.
    const auto declared = static_cast<std::size_t>(info.uncompressed_size);
    inflated_ += declared;
    out.reserve(std::min<std::size_t>(declared, std::size_t{1} << 24));
    char chunk[1 << 16];
    int got = 0;
    while ((got = unzReadCurrentFile(zip, chunk, sizeof chunk)) > 0) {
        if (out.size() + static_cast<std::size_t>(got) > declared) break;
        out.append(chunk, static_cast<std::size_t>(got));
    }
    const int closed = unzCloseCurrentFile(zip);
    if (got < 0 || out.size() != declared) {
        out.clear();
        return fail(Error::damaged,
                    "member " + member + " (data from byte " + std::to_string(entry.data_start) +
                        ") is cut short or damaged",
                    entry.data_start);
    }
    if (closed == UNZ_CRCERROR) {
        out.clear();
        return fail(Error::damaged,
                    "member " + member + " (data from byte " + std::to_string(entry.data_start) +
                        ") is damaged: its data do not match its checksum",
                    entry.data_start);
    }
    error_ = Error::none;
    error_offset_ = kNoOffset;
    error_text_.clear();
    return true;
}

}  // namespace qelda
