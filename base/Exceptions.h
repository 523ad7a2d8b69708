#pragma once

#include <exception>
#include <string>
#include <utility>

// Base of every error the program raises on purpose. The message is what the
// user reads in the general error box, so it is written for people.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }

    std::string Message;
};

// A file could not be opened, queried, written or closed.
class EInOutError : public Exception {
public:
    EInOutError(std::string message, int errorCode) : Exception(std::move(message)), ErrorCode(errorCode) {}

    int ErrorCode;  // errno of the failed call
};

// A text did not hold the number it was expected to hold.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};
