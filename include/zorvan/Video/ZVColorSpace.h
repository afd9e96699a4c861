#pragma once
// The colour space that images made from screen pixels are tagged with.
#include <memory>
#include <string>

class ZVColorSpace {
  public:
    explicit ZVColorSpace(std::string name) : _name(std::move(name)) {}
    // "sRGB" for the system space. Any thread.
    const std::string& name() const { return _name; }

  private:
    std::string _name;
};

// The colour space of the display, or nullptr. X11 desktops without a colour manager show
// sRGB, which is what screen pixels are taken to be. The caller owns the result. Any thread.
std::shared_ptr<const ZVColorSpace> CreateSystemColorSpace();
