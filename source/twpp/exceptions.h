// The exceptions thrown by the typed capability accessors. The entry point turns each into
// TWCC_BUMMER; none is caught on the way there.
#pragma once

#include <exception>

namespace Twpp {

class Exception : public std::exception {
public:
    const char* what() const noexcept override { return "General TWPP error."; }
};

class CapabilityException : public Exception {
public:
    const char* what() const noexcept override { return "Capability handling error."; }
};

class DataException : public CapabilityException {
public:
    const char* what() const noexcept override { return "No data."; }
};

class ContainerException : public CapabilityException {
public:
    const char* what() const noexcept override { return "Unexpected container."; }
};

class ItemTypeException : public CapabilityException {
public:
    const char* what() const noexcept override { return "Invalid item type."; }
};

} // namespace Twpp
