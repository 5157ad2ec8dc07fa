// The message-carrying exception at the root of every failure the program
// throws or catches. The message is built once, in the user's language, by
// whoever throws.
#pragma once

#include <stdexcept>
#include <string>

namespace VEK {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

}  // namespace VEK
