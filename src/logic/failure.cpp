#include "logic/failure.h"

#include <utility>

namespace varnok {

Failure::Failure(int number, std::string description)
    : number_(number), description_(std::move(description)) {}

} // namespace varnok
