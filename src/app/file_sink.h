#pragma once

#include <QStringList>

#include <functional>
#include <string_view>

#include "report/list_page.h"

namespace zqn::app {

// The page writer's files on disk, by code page 932 paths. A failed replace returns false to the
// writer and keeps its message for whoever reports it.
class StorageFileSink final : public report::FileSink {
public:
    bool replace(std::string_view cp932Path, std::string_view bytes) override;
    bool replaceWith(std::string_view cp932Path, const std::function<void(text::ByteSink&)>& produce) override;

    // "path: reason" for every replace that failed, in order.
    const QStringList& failures() const { return failures_; }

private:
    QStringList failures_;
};

} // namespace zqn::app
