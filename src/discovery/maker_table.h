#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zqn::discovery {

// Who made a device, from the prefixes the IEEE assigns: 24-bit blocks (MA-L) and the 28- and
// 36-bit blocks carved out of some of them (MA-M, MA-S, IAB). One sorted array and one pool of
// names, each name held once, so that the whole registry takes about a megabyte.
class MakerTable {
public:
    // Adds the assignments of one of the registry's CSV files (header "Registry,Assignment,
    // Organization Name,..."; fields may be quoted, with line breaks inside). Rows that are not
    // an assignment of 6 to 9 hexadecimal digits are skipped. Call seal() after the last file.
    void addCsv(std::string_view csv);
    void seal();

    // The maker of the MAC text ("0A:1B:2C:3D:4E:5F", either case), from its longest assigned
    // prefix; empty when none is known or the text is no MAC.
    std::string_view makerOf(std::string_view macText) const;

    std::size_t size() const { return entries_.size(); }
    // What the table holds in memory, in bytes.
    std::size_t bytes() const { return entries_.capacity() * sizeof(Entry) + names_.capacity(); }

private:
    struct Entry {
        std::uint64_t prefix; // the MAC's 48 bits with those beyond the prefix zero
        std::uint32_t nameOffset;
        std::uint16_t nameLength;
        std::uint8_t bits;

        bool operator<(const Entry& other) const
        {
            return prefix != other.prefix ? prefix < other.prefix : bits < other.bits;
        }
    };

    void add(std::string_view assignment, std::string_view name);

    std::vector<Entry> entries_;
    std::string names_;
    std::unordered_map<std::string, std::uint32_t> offsetOfName_; // only while adding
};

} // namespace zqn::discovery
