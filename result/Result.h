// What an operation gives back: its value, or why it failed (a code the caller may branch on and
// a text for the user or the log). Nothing throws; asking a failure for its value is a bug.
#pragma once

#include <cassert>
#include <optional>
#include <string>
#include <utility>

namespace velt {

struct Failure {
  int code = 0;      // the operation's own: an errno, an exit code, a kind of link failure
  std::string text;  // why, in the reader's language, naming what failed
  bool operator==(const Failure&) const = default;
};

template <class T = void>
class Result {
 public:
  Result(T value) : value_(std::move(value)) {}
  Result(Failure failure) : failure_(std::move(failure)) {}
  bool ok() const { return value_.has_value(); }
  const T& value() const& {
    assert(ok());
    return *value_;
  }
  T&& value() && {
    assert(ok());
    return std::move(*value_);
  }
  const Failure& error() const { return failure_; }

 private:
  std::optional<T> value_;
  Failure failure_;
};

template <>
class Result<void> {
 public:
  Result() = default;
  Result(Failure failure) : ok_(false), failure_(std::move(failure)) {}
  bool ok() const { return ok_; }
  const Failure& error() const { return failure_; }

 private:
  bool ok_ = true;
  Failure failure_;
};

}  // namespace velt
