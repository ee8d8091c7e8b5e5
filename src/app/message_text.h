#pragma once

#include <QString>

#include <string_view>

#include "text/messages.h"

namespace zqn::app {

// A text of the message catalogue that only the window, the notices and the journal show.
inline QString messageText(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// As windows and notices title themselves.
inline QString programName()
{
    return messageText(text::messages::kProgramName);
}

} // namespace zqn::app
