#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace lc {

// What went wrong, for callers that branch on it. The text says where.
enum class Error
{
    None = 0,
    NotFound,     // file or item missing
    Io,           // read, write or seek failed
    DiskFull,     // short write
    BadData,      // file content is malformed
    TooLarge,     // a size beyond a named limit
    Unsupported,  // valid but not handled
    OutOfMemory,
    InvalidArgument,
    Cancelled,
};

struct Failure
{
    Error code = Error::None;
    std::string what;    // a short text naming the item
    int64_t offset = -1; // byte offset in the input, -1 when it does not apply
};

inline Failure Fail(Error code, std::string what, int64_t offset = -1)
{
    return Failure{code, std::move(what), offset};
}

// Either a value or a Failure. No exceptions cross subsystems.
template <typename T> class [[nodiscard]] Result
{
public:
    Result(T value) : v_(std::move(value)) {}
    Result(Failure f) : v_(std::move(f)) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T &value() & { return std::get<0>(v_); }
    const T &value() const & { return std::get<0>(v_); }
    T &&value() && { return std::get<0>(std::move(v_)); }
    T &operator*() & { return value(); }
    const T &operator*() const & { return value(); }
    T *operator->() { return &value(); }
    const T *operator->() const { return &value(); }
    const Failure &failure() const { return std::get<1>(v_); }
    Error error() const { return ok() ? Error::None : failure().code; }

private:
    std::variant<T, Failure> v_;
};

template <> class [[nodiscard]] Result<void>
{
public:
    Result() = default;
    Result(Failure f) : f_(std::move(f)), failed_(true) {}

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const Failure &failure() const { return f_; }
    Error error() const { return failed_ ? f_.code : Error::None; }

private:
    Failure f_;
    bool failed_ = false;
};

using Status = Result<void>;

} // namespace lc
