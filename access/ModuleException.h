#pragma once
// The Velmo library's exception: thrown only by constructors that cannot build their object
// (a library that cannot be loaded or bound), and caught where the bus client is created.

#include <stdexcept>
#include <string>

namespace Velmo {

class ModuleException : public std::runtime_error {
public:
    explicit ModuleException(const std::string& what) : std::runtime_error(what) {}
    explicit ModuleException(const char* what) : std::runtime_error(what) {}
};

}  // namespace Velmo
