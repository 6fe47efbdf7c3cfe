// Zip archives read in memory (BRML and RASX files): the members are listed
// from the central directory and read whole into memory, never extracted to
// disk. A member whose declared size passes kMaxMemberBytes is refused before
// anything is inflated, and inflation never goes past the declared size, so a
// member that would inflate beyond what its header says (a zip bomb) ends with
// a CRC error instead of filling memory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qelda {

class ZipArchive {
  public:
    static constexpr std::uint64_t kMaxMemberBytes = std::uint64_t{256} << 20;

    enum class Error {
        none,
        not_zip,      // the bytes do not start as a zip archive does
        damaged,      // cut short, or a header or the data contradict each other
        too_large,    // the member declares more than kMaxMemberBytes
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

    Error error() const noexcept { return error_; }
    // Why the last call failed, in lower case ("member Data0/Profile0.txt is
    // damaged: its data do not match its checksum").
    const std::string& error_text() const noexcept { return error_text_; }

    // True when `bytes` start with a zip local header or an empty archive's end record.
    static bool looks_like_zip(std::string_view bytes) noexcept;

  private:
    bool fail(Error error, std::string text);

    void* cursor_ = nullptr;  // where minizip reads in the bytes
    void* handle_ = nullptr;  // unzFile
    std::vector<std::string> names_;
    Error error_ = Error::none;
    std::string error_text_;
};

}  // namespace qelda
