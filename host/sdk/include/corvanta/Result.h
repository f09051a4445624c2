#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

namespace corvanta {

// A value or an error message. Reading the value of an error throws
// std::logic_error carrying the message.
template <class T>
class Result {
public:
    static Result success(T value) { return Result(std::move(value), {}); }
    static Result failure(std::string message) { return Result(std::nullopt, std::move(message)); }

    bool isSuccess() const { return value_.has_value(); }
    explicit operator bool() const { return isSuccess(); }

    const T& value() const {
        if (!value_) throw std::logic_error("Result holds an error: " + error_);
        return *value_;
    }
    const std::string& errorMessage() const { return error_; }

private:
    Result(std::optional<T> value, std::string error) : value_(std::move(value)), error_(std::move(error)) {}
    std::optional<T> value_;
    std::string error_;
};

template <>
class Result<void> {
public:
    static Result success() { return Result(true, {}); }
    static Result failure(std::string message) { return Result(false, std::move(message)); }

    bool isSuccess() const { return ok_; }
    explicit operator bool() const { return ok_; }
    const std::string& errorMessage() const { return error_; }

private:
    Result(bool ok, std::string error) : ok_(ok), error_(std::move(error)) {}
    bool ok_;
    std::string error_;
};

}  // namespace corvanta
