#include "discovery/maker_table.h"

#include <algorithm>
#include <array>
#include <limits>

namespace zqn::discovery {

namespace {

constexpr std::uint64_t kMacBits = 48;
constexpr std::array<std::uint8_t, 3> kPrefixBits = {36, 28, 24}; // longest first

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::uint64_t maskOf(std::uint8_t bits)
{
    return ((std::uint64_t{1} << bits) - 1) << (kMacBits - bits);
}

// The registry files are plain CSV: a field in double quotes may hold commas, line breaks and
// doubled quotes. Reads the first `wanted` fields of the record at pos and moves pos past it.
template <std::size_t wanted>
bool readRecord(std::string_view csv, std::size_t& pos, std::array<std::string, wanted>& fields)
{
    if (pos >= csv.size())
        return false;
    for (auto& field : fields)
        field.clear();
    std::size_t index = 0;
    bool quoted = false;
    while (pos < csv.size()) {
        const char c = csv[pos++];
        if (quoted) {
            if (c != '"') {
                if (index < wanted)
                    fields[index] += c;
            } else if (pos < csv.size() && csv[pos] == '"') {
                if (index < wanted)
                    fields[index] += '"';
                ++pos;
            } else {
                quoted = false;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            ++index;
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && pos < csv.size() && csv[pos] == '\n')
                ++pos;
            break;
        } else if (index < wanted) {
            fields[index] += c;
        }
    }
    return true;
}

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

} // namespace

void MakerTable::addCsv(std::string_view csv)
{
    std::size_t pos = 0;
    std::array<std::string, 3> fields; // registry, assignment, organisation
    while (readRecord(csv, pos, fields))
        add(trimmed(fields[1]), trimmed(fields[2]));
}

void MakerTable::add(std::string_view assignment, std::string_view name)
{
    if (assignment.size() < 6 || assignment.size() > 9 || assignment.size() == 8 || name.empty())
        return;
    std::uint64_t value = 0;
    for (const char c : assignment) {
        const int digit = hexValue(c);
        if (digit < 0)
            return; // the header, or a broken row
        value = value << 4 | static_cast<std::uint64_t>(digit);
    }
    const auto bits = static_cast<std::uint8_t>(4 * assignment.size());
    name = name.substr(0, std::numeric_limits<std::uint16_t>::max());

    auto [known, added] = offsetOfName_.try_emplace(std::string(name), static_cast<std::uint32_t>(names_.size()));
    if (added)
        names_.append(name);
    entries_.push_back({value << (kMacBits - bits), known->second, static_cast<std::uint16_t>(name.size()), bits});
}

void MakerTable::seal()
{
    std::stable_sort(entries_.begin(), entries_.end());
    // A prefix listed twice keeps its first name.
    entries_.erase(std::unique(entries_.begin(), entries_.end(),
                               [](const Entry& a, const Entry& b) { return !(a < b) && !(b < a); }),
                   entries_.end());
    entries_.shrink_to_fit();
    names_.shrink_to_fit();
    offsetOfName_ = {};
}

std::string_view MakerTable::makerOf(std::string_view macText) const
{
    if (macText.size() != 17)
        return {};
    std::uint64_t mac = 0;
    for (std::size_t i = 0; i < 17; ++i) {
        if (i % 3 == 2) {
            if (macText[i] != ':' && macText[i] != '-')
                return {};
            continue;
        }
        const int digit = hexValue(macText[i]);
        if (digit < 0)
            return {};
        mac = mac << 4 | static_cast<std::uint64_t>(digit);
    }
    for (const std::uint8_t bits : kPrefixBits) {
        const Entry key{mac & maskOf(bits), 0, 0, bits};
        const auto found = std::lower_bound(entries_.begin(), entries_.end(), key);
        if (found != entries_.end() && found->prefix == key.prefix && found->bits == bits)
            return std::string_view(names_).substr(found->nameOffset, found->nameLength);
    }
    return {};
}

} // namespace zqn::discovery
