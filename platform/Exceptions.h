// The root of every exception the system raises. Each subsystem derives its own class
// (EStringListError, EFzyException, EIEException, ...); the message is always complete text.
#pragma once

#include <stdexcept>
#include <string>

namespace ie {

class EException : public std::runtime_error {
public:
    explicit EException(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

// The class library's list errors ("List index out of bounds (%d)", ...).
class EListError : public EException {
public:
    using EException::EException;
};

class EStringListError : public EException {
public:
    using EException::EException;
};

// Stream failures: open, read, write, seek.
class EStreamError : public EException {
public:
    using EException::EException;
};

// A conversion that cannot be made ("'abc' is not a valid integer value").
class EConvertError : public EException {
public:
    using EException::EException;
};

// A silent exception: raised to abandon an operation without an error (a host's handler that
// refuses an activation, a cancelled input query). Hosts do not report it.
class EAbort : public EException {
public:
    EAbort() : EException("Operation aborted") {}
};

} // namespace ie
