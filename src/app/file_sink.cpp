#include "app/file_sink.h"

#include "storage/file_store.h"

namespace zqn::app {

bool StorageFileSink::replace(std::string_view cp932Path, std::string_view bytes)
{
    return replaceWith(cp932Path, [bytes](text::ByteSink& out) { out.write(bytes); });
}

bool StorageFileSink::replaceWith(std::string_view cp932Path, const std::function<void(text::ByteSink&)>& produce)
{
    const storage::Status written = storage::replaceFileWith(storage::nativeName(cp932Path), produce);
    if (!written)
        failures_.append(written.error());
    return written.ok();
}

} // namespace zqn::app
