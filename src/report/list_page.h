#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "discovery/device_list.h"
#include "report/page_template.h"
#include "text/byte_sink.h"

namespace zqn::report {

using text::ByteSink;

// Where the page writer's files go. A replace either succeeds whole or returns false.
class FileSink {
public:
    virtual ~FileSink() = default;
    virtual bool replace(std::string_view path, std::string_view bytes) = 0;
    // Replaces the file with what produce writes, so that a large file need not be held whole in
    // memory. By default the pieces are gathered and passed to replace.
    virtual bool replaceWith(std::string_view path, const std::function<void(ByteSink&)>& produce);
};

// The table rows for the device lines: the stamp row, the header rows, one five-line row per
// device line up to the first line without a comma, and the closing row. Each line ends in CR LF.
std::string rowBlock(const discovery::DeviceList& devices, std::string_view stamp, int httpPort);

// Head block, row block, tail block.
std::string pageText(const PageBlocks& blocks, std::string_view rows);

struct WriteOutcome {
    bool pageFailed = false;
    bool csvFailed = false;
};

// "開始", or which saves failed followed by "ファイル保存ができません。" (code page 932 bytes).
std::string statusText(WriteOutcome outcome);

struct PageWrite {
    std::string_view stamp; // "yyyy/mm/dd hh:nn:ss"
    int httpPort = 80;
    std::string_view htmlPath; // an empty path skips that file
    std::string_view csvPath;
};

// One page write: renders the page, saves it and the device list's CSV text through the sink.
// A failure of one file does not keep the other from being written.
WriteOutcome writeListPage(const PageBlocks& blocks, const discovery::DeviceList& devices,
                           const PageWrite& write, FileSink& sink);

} // namespace zqn::report
