#include "app/full_list_warning.h"

#include "app/message_text.h"

namespace zqn::app {

namespace {

constexpr int kWarningIntervalMs = 60'000;

QString listFull(std::size_t capacity)
{
    return messageText(text::messages::kListFull).arg(capacity);
}

} // namespace

QString FullListWarning::statusWarning(bool full, std::size_t capacity)
{
    return full ? listFull(capacity) : QString();
}

QString FullListWarning::firstRefusal(std::size_t capacity)
{
    refusedSinceWrite_ = true;
    if (warnedAt_.isValid() && !warnedAt_.hasExpired(kWarningIntervalMs))
        return {};
    warnedAt_.start();
    return listFull(capacity) + messageText(text::messages::kNewDevicesRefused);
}

} // namespace zqn::app
