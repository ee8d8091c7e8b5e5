#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "discovery/device_list.h"
#include "report/page_template.h"
#include "text/byte_sink.h"

namespace zqn::report {

using text::ByteSink;

// Replaces the file at path with what produce writes, whole or not at all; false when it could
// not. produce may write in pieces, so that a large file need not be held whole in memory.
using ReplaceFile = std::function<bool(std::string_view path, const std::function<void(ByteSink&)>& produce)>;

// The CSV file's bytes: every line followed by CR LF, except that a list loaded from a file whose
// last line had no break keeps writing its last line without one.
void writeCsv(ByteSink& sink, const discovery::DeviceList& devices);

struct WriteOutcome {
    bool pageFailed = false;
    bool csvFailed = false;
    // The file itself was rewritten, not replaced by a new one: who held it open saw it change.
    bool pageInPlace = false;
    bool csvInPlace = false;
};

// "開始", or which saves failed followed by "ファイル保存ができません。" (code page 932 bytes).
std::string statusText(WriteOutcome outcome);

struct PageWrite {
    std::string_view stamp; // "yyyy/mm/dd hh:nn:ss"
    int httpPort = 80;
    std::string_view htmlPath; // an empty path skips that file
    std::string_view csvPath;
};

// One page write: renders the page and saves it and the device list's CSV text through replace.
// A failure of one file does not keep the other from being written.
WriteOutcome writeListPage(const PageBlocks& blocks, const discovery::DeviceList& devices,
                           const PageWrite& write, const ReplaceFile& replace);

} // namespace zqn::report
