#pragma once
// How a function that can fail says so: it returns a Status (success, or failure with a message
// for the person converting), or a Result<T> when it also gives a value. The message is the
// whole story: the caller puts its own words in front ("Cannot write '…': " + message) and
// never has to ask an object for its last error.

#include <cassert>
#include <optional>
#include <string>
#include <utility>

namespace orvalis {

class [[nodiscard]] Status {
 public:
  static Status Ok() { return Status(); }
  static Status Error(std::string message) { return Status(std::move(message)); }

  bool IsOk() const { return !failed_; }
  // Empty for a success.
  const std::string& Message() const { return message_; }

 private:
  Status() = default;
  explicit Status(std::string message) : failed_(true), message_(std::move(message)) {}

  bool failed_ = false;
  std::string message_;
};

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}  // NOLINT: a value converts implicitly
  Result(Status failure) : failure_(std::move(failure)) {
    assert(!failure_.IsOk());  // a Result without its value is a failure
  }

  bool IsOk() const { return value_.has_value(); }
  // The failure, or Status::Ok() when there is a value.
  const Status& AsStatus() const { return failure_; }
  const std::string& Message() const { return failure_.Message(); }

  T& Value() & { return *value_; }
  const T& Value() const& { return *value_; }
  T&& Value() && { return std::move(*value_); }

 private:
  std::optional<T> value_;
  Status failure_ = Status::Ok();
};

}  // namespace orvalis
