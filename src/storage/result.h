#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <variant>

namespace zqn::storage {

// What a failed file access tells the user, in their language; any Result converts from it.
struct Failure {
    QString message;
};

// A value, or the message of the failure that kept it from being made. Storage reports every
// failure this way and throws nothing, so the caller decides once where a message goes.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Failure failure) : state_(std::in_place_index<1>, std::move(failure.message)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    // Only on success; on a failure they throw std::bad_variant_access.
    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    // Empty on success.
    const QString& error() const
    {
        static const QString none;
        const QString* message = std::get_if<1>(&state_);
        return message ? *message : none;
    }

private:
    std::variant<T, QString> state_;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Failure failure) : error_(std::move(failure.message)) {}

    bool ok() const { return !error_; }
    explicit operator bool() const { return ok(); }

    const QString& error() const
    {
        static const QString none;
        return error_ ? *error_ : none;
    }

private:
    std::optional<QString> error_;
};

using Status = Result<void>;

} // namespace zqn::storage
