#pragma once

#include <QString>

#include "text/messages.h"

namespace zqn::app {

// As windows and notices title themselves.
inline QString programName()
{
    return QString::fromLatin1(text::messages::kProgramName.data(), qsizetype(text::messages::kProgramName.size()));
}

} // namespace zqn::app
