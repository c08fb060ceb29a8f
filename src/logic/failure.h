#pragma once
// Typed failures of the pure logic and the port layer: each carries a number and a
// description, the pair that the windows show in their messages.
#include <exception>
#include <string>

namespace varnok {

class Failure : public std::exception {
  public:
    Failure(int number, std::string description);
    int number() const noexcept { return number_; }
    const std::string& description() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

  private:
    int number_;
    std::string description_;
};

// A value that is not a number of the expected kind (a hexadecimal list token "G1").
class TypeMismatch : public Failure {
  public:
    TypeMismatch() : Failure(13, "Type mismatch") {}
};

// A value past the range of its target (a list token above FF, a counter past 32 bits).
class Overflow : public Failure {
  public:
    Overflow() : Failure(6, "Overflow") {}
};

} // namespace varnok
