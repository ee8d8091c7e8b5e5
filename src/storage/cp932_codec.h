#pragma once

#include <QString>

#include <optional>
#include <string>
#include <string_view>

// Code page 932 (Shift_JIS) texts on the way in and out of Qt: the monitor's texts stay bytes
// everywhere else.
namespace zqn::storage {

QString fromCp932(std::string_view bytes);

// A character code page 932 lacks is replaced by a stand-in.
std::string toCp932(const QString& text);

// Nothing when a character has no code page 932 form, so that a text the user typed is
// refused rather than saved altered.
std::optional<std::string> toCp932Exactly(const QString& text);

} // namespace zqn::storage
