// Zip archives read in memory (BRML and RASX files): the members are listed
// from the central directory once, into an index by name, and read whole into
// memory, never extracted to disk. Entries whose data overlap (one member
// listed many times, the trick of zip bombs) are refused at open. A member
// whose declared size passes kMaxMemberBytes, or that would bring what the
// archive inflated in all past kMaxTotalBytes, is refused before anything is
// inflated, and inflation never goes past the declared size, so a member that
// would inflate beyond what its header says ends with an error instead of
// filling memory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qelda {

class ZipArchive {
  public:
    // No scan's XML or text comes near these: 100000 points take a few MB.
    static constexpr std::uint64_t kMaxMemberBytes = std::uint64_t{64} << 20;
    static constexpr std::uint64_t kMaxTotalBytes = std::uint64_t{256} << 20;

    enum class Error {
        none,
        not_zip,      // the bytes do not start as a zip archive does
        damaged,      // cut short, or a header or the data contradict each other
        too_large,    // a member or the archive passes kMaxMemberBytes or kMaxTotalBytes
        missing,      // no member of that name
        unsupported,  // encrypted, or packed other than stored or deflated
    };

    ZipArchive() = default;
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;
    ~ZipArchive();

    // Opens the archive held in `bytes`, which must outlive this object.
    bool open(std::string_view bytes);
    // The member names in the order of the central directory.
    const std::vector<std::string>& members() const noexcept { return names_; }
    bool contains(std::string_view name) const noexcept;
    // Reads the member `name` whole into `out`.
    bool read(std::string_view name, std::string& out);

    // Smaller budgets, so that tests reach them with small archives.
    void set_budgets(std::uint64_t member, std::uint64_t total) noexcept {
        max_member_ = member;
        max_total_ = total;
    }

    Error error() const noexcept { return error_; }
    // The byte of the archive where the last failure was found, or kNoOffset.
    static constexpr std::uint64_t kNoOffset = ~std::uint64_t{0};
    std::uint64_t error_offset() const noexcept { return error_offset_; }
    // Why the last call failed, in lower case ("member Data0/Profile0.txt is
    // damaged: its data do not match its checksum"), with the byte offset in the
    // archive where one is known.
    const std::string& error_text() const noexcept { return error_text_; }

    // True when `bytes` start with a zip local header or an empty archive's end record.
    static bool looks_like_zip(std::string_view bytes) noexcept;

  private:
    bool fail(Error error, std::string text, std::uint64_t offset = kNoOffset);
    bool index_entries();

    struct Entry {
        std::uint64_t directory_offset = 0;  // of its central directory entry
        std::uint64_t number = 0;            // its place in the central directory
        std::uint64_t data_start = 0;        // first byte of its packed data
        std::uint64_t packed = 0;
        std::uint64_t size = 0;
    };

    void* cursor_ = nullptr;  // where minizip reads in the bytes
    void* handle_ = nullptr;  // unzFile
    std::vector<std::string> names_;
    std::vector<Entry> entries_;                          // in the order of names_
    std::unordered_map<std::string, std::size_t> index_;  // name -> entry
    std::uint64_t inflated_ = 0;                          // by every read so far
    std::uint64_t max_member_ = kMaxMemberBytes;
    std::uint64_t max_total_ = kMaxTotalBytes;
    Error error_ = Error::none;
    std::uint64_t error_offset_ = kNoOffset;
    std::string error_text_;
};

}  // namespace qelda
