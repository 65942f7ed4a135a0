// Status: the result of an operation that can fail, carrying a one-line reason.
// The engine and imageio return it; only the shells turn it into user-visible text.
#ifndef NUBO_ENGINE_STATUS_H_
#define NUBO_ENGINE_STATUS_H_

#include <string>
#include <utility>

namespace nubo {

enum class StatusCode {
  kOk = 0,
  kCannotOpen,   // the file could not be opened at all
  kInvalidData,  // the file was read but its content is damaged or unsupported
  kTooLarge,     // the content would need more memory than we allow
  kIoError,      // reading or writing failed part-way
  kInvalidArgument,
};

class Status {
 public:
  Status() = default;
  Status(StatusCode code, std::string message) : code_(code), message_(std::move(message)) {}

  static Status Ok() { return Status(); }

  bool ok() const { return code_ == StatusCode::kOk; }
  StatusCode code() const { return code_; }
  // One line, no trailing newline; empty when ok().
  const std::string& message() const { return message_; }

 private:
  StatusCode code_ = StatusCode::kOk;
  std::string message_;
};

// What every reader, cleaner and writer returns when an allocation for a
// picture fails.
inline Status tooLittleMemory() {
  return Status(StatusCode::kTooLarge, "not enough memory for the picture");
}

}  // namespace nubo

#endif  // NUBO_ENGINE_STATUS_H_
