// The framework's error object: a message in the system's ANSI code page.
#pragma once

#include <stdexcept>
#include <string>

namespace wc {

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

// A failed system call: "<call>" + LF + CR + the system's text for the code.
class EOSError : public Exception {
public:
    EOSError(const std::string& call, unsigned long code);
    unsigned long Code() const noexcept { return code_; }

private:
    unsigned long code_;
};

}  // namespace wc
