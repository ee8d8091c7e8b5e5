#pragma once

#include <string>
#include <string_view>

#include "text/line_list.h"

namespace zqn::report {

// The built-in 37-line template, in code page 932 bytes.
text::Lines defaultTemplate();

// The filled template around the generated rows: the lines before the split line "%LISTDATA%"
// and those after it, each as text (every line followed by CR LF).
struct PageBlocks {
    std::string head;
    std::string tail;
};

// Fills the first "%REFRESH%", "%REFHTML%" and "%MESS01%" of each line, in that order, drops
// every line that is then exactly "%LISTDATA%", and splits at the first such line. Each template
// line is read with at most 4096 bytes.
PageBlocks buildBlocks(const text::Lines& pageTemplate, int saveInterval, std::string_view htmlPath,
                       std::string_view heading);

} // namespace zqn::report
