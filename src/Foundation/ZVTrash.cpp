#include "Foundation/ZVTrash.h"

bool ZVMoveToTrash(const ZVPlatformServices& services, const std::string& path,
                   std::string* error) {
    if (services.moveToTrash) return services.moveToTrash(path, error);
    if (error) *error = path + ": there is no Trash on this system";
    return false;
}
