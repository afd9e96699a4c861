#pragma once
// The exception the framework raises: a name (often the raising operation, such as
// "-[ZVQueue addObject:]") and a human-readable reason.
#include <exception>
#include <string>

class ZVException : public std::exception {
  public:
    ZVException(std::string name, std::string reason)
        : _name(std::move(name)), _reason(std::move(reason)) {}

    const std::string& name() const noexcept { return _name; }
    const std::string& reason() const noexcept { return _reason; }
    const char* what() const noexcept override { return _reason.c_str(); }

  private:
    std::string _name;
    std::string _reason;
};
