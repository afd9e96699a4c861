#include "Foundation/ZVBundle.h"

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

std::string ZVBundle::resourceDirectory() {
    if (const char* env = std::getenv("ZORVAN_RESOURCES"); env && *env) return env;
    std::error_code ec;
    if (fs::is_directory(ZV_BUILD_RESOURCES, ec)) return ZV_BUILD_RESOURCES;
    return ZV_INSTALL_RESOURCES;
}

std::string ZVBundle::resourcePath(const std::string& name) {
    std::error_code ec;
    // Built resources (the driver installer) sit in the build tree, beside the sources'.
    for (std::string dir :
         {resourceDirectory(), std::string(ZV_BUILD_RESOURCES),
          std::string(ZV_BUILD_BINARY_RESOURCES), std::string(ZV_INSTALL_RESOURCES)}) {
        fs::path p = fs::path(dir) / name;
        if (fs::exists(p, ec)) return p.string();
    }
    return {};
}
