// The outcome of an operation that can fail: its value, or the message that
// says why, one line for a person to read. Code written since the layers
// were split fails this way; the daemon's own callbacks keep their fixed
// signatures and log lines.
#pragma once

#include <optional>
#include <string>
#include <utility>

template <typename T = void>
class [[nodiscard]] Result {
public:
    Result(T value) : value_(std::move(value)) {}
    static Result Fail(std::string message) {
        Result r;
        r.error_ = std::move(message);
        return r;
    }
    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    T& operator*() { return *value_; }
    T* operator->() { return &*value_; }
    const std::string& error() const { return error_; }

private:
    Result() = default;
    std::optional<T> value_;
    std::string error_;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    static Result Fail(std::string message) {
        Result r;
        r.ok_ = false;
        r.error_ = std::move(message);
        return r;
    }
    bool ok() const { return ok_; }
    explicit operator bool() const { return ok_; }
    const std::string& error() const { return error_; }

private:
    bool ok_ = true;
    std::string error_;
};
