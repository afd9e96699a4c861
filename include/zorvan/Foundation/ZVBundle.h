#pragma once
// The framework's own resources (click marks, strings tables, the loopback driver bundle).
#include <string>

class ZVBundle {
  public:
    // Full path of a resource: $ZORVAN_RESOURCES when set, else the source tree's
    // resources/ (then the build tree's, for built ones such as DriverInstaller) for a
    // library run from its build tree, else the installed share/zorvan/.
    // Empty when the resource is in none of them. Any thread.
    static std::string resourcePath(const std::string& name);

    // The folder resources are looked up in first.
    static std::string resourceDirectory();
};
