// Input: the bytes of a settings file, as a user may have edited it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "app/panel_fields.h"
#include "settings/settings.h"

namespace {

using zqn::settings::parseSettings;
using zqn::settings::Settings;
using zqn::settings::writeSettings;

// What an INI value can carry: it ends at the line's end (the writer keeps only the first line)
// and at a NUL byte (values are C strings), and the reader trims blanks around it, so leading
// and trailing spaces and tabs are lost.
std::string carried(std::string_view value)
{
    value = value.substr(0, value.find_first_of(std::string_view("\0\r\n", 3)));
    const std::size_t first = value.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return std::string(value.substr(first, value.find_last_not_of(" \t") - first + 1));
}

// A save must be stable: written into its own output it gives the same bytes, and it reads
// back as what was written, as far as the format carries it. Returns what it reads back.
Settings checkSaved(std::string_view existing, const Settings& written)
{
    const std::string saved = writeSettings(existing, written);
    FUZZ_CHECK(zqn::fuzz::isCrLfLineSequence(saved));

    Settings expected = written;
    expected.csvPath = carried(written.csvPath);
    expected.htmlPath = carried(written.htmlPath);
    expected.heading = carried(written.heading);
    // The device cap goes only into a file that has its key; without one it reads as the default.
    const Settings readBack = parseSettings(saved);
    FUZZ_CHECK(readBack.maxDevices == written.maxDevices || readBack.maxDevices == Settings{}.maxDevices);
    expected.maxDevices = readBack.maxDevices;
    FUZZ_CHECK(readBack == expected);
    // A save settles: saving again may tidy the file once, but never keeps changing it.
    const std::string again = writeSettings(saved, written);
    FUZZ_CHECK(parseSettings(again) == expected);
    FUZZ_CHECK(writeSettings(again, written) == again);
    return readBack;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // What was read is exactly what the format carries, so it must come back unchanged.
    const Settings read = parseSettings(bytes);
    FUZZ_CHECK(carried(read.csvPath) == read.csvPath);
    FUZZ_CHECK(carried(read.htmlPath) == read.htmlPath);
    FUZZ_CHECK(carried(read.heading) == read.heading);
    FUZZ_CHECK(checkSaved(bytes, read) == read);

    // Exit writes what the panel's fields hold; fields filled from the record give the record
    // back, with the save interval as the spin control can hold it.
    const int spin = zqn::app::spinValueFor(read.saveInterval);
    FUZZ_CHECK(spin >= zqn::app::kMinSaveInterval && spin <= zqn::app::kMaxSaveInterval);
    Settings atExit = read;
    atExit.saveInterval = spin;
    FUZZ_CHECK(zqn::app::withPanelFields(read, zqn::app::panelFieldsFor(read)) == atExit);

    // Settings other than those in the file, with texts taken raw from the input's thirds: line
    // breaks, brackets, "=", comment marks, blanks and NUL bytes must not reach other keys.
    Settings other;
    other.autoStart = !read.autoStart;
    other.startHidden = !read.startHidden;
    other.udpPort = ~read.udpPort;
    other.httpPort = ~read.httpPort;
    other.saveInterval = ~read.saveInterval;
    other.notifyNewDevices = !read.notifyNewDevices;
    other.maxDevices = read.maxDevices == 7 ? 8 : 7;
    other.csvPath = bytes.substr(0, size / 3);
    other.htmlPath = bytes.substr(size / 3, size / 3);
    other.heading = bytes.substr(2 * (size / 3));
    // A cap other than the default was read from the file, so its key is there to be written.
    const Settings otherBack = checkSaved(bytes, other);
    if (read.maxDevices != Settings{}.maxDevices)
        FUZZ_CHECK(otherBack.maxDevices == other.maxDevices);
    FUZZ_CHECK(checkSaved("", other).maxDevices == Settings{}.maxDevices);
    return 0;
}
