// The result of new code that can fail: a value, or a message that names the file or address
// concerned and what went wrong ("cannot write the settings /home/a/x.conf: permission
// denied"). The described functions keep their integer results; this type is for what was
// added around them. Copyable and movable when T is; any thread.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace corvane {

template <class T> class Result {
public:
    // A success holding value.
    Result(T value_)
        : value(std::move(value_))
    { }
    // A failure; message must not be empty.
    static Result Failure(std::string message) { return Result(std::nullopt, std::move(message)); }

    bool Ok() const { return value.has_value(); }
    explicit operator bool() const { return Ok(); }
    // The value; only after Ok().
    T& Value() { return *value; }
    const T& Value() const { return *value; }
    // The message; empty after a success.
    const std::string& Error() const { return error; }

private:
    Result(std::nullopt_t, std::string message)
        : error(std::move(message))
    { }

    std::optional<T> value;
    std::string error;
};

template <> class Result<void> {
public:
    // A success.
    Result() = default;
    // A failure; message must not be empty.
    static Result Failure(std::string message)
    {
        Result failed;
        failed.error = std::move(message);
        return failed;
    }

    bool Ok() const { return error.empty(); }
    explicit operator bool() const { return Ok(); }
    const std::string& Error() const { return error; }

private:
    std::string error;
};

} // namespace corvane
