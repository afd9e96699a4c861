#include "Platform/GIO/ZVGIOTrash.h"

#include <gio/gio.h>

bool ZVGIOMoveToTrash(const std::string& path, std::string* error) {
    GFile* file = g_file_new_for_path(path.c_str());
    GError* failure = nullptr;
    bool ok = g_file_trash(file, nullptr, &failure);
    if (!ok) {
        if (error)
            *error = path + ": " + (failure ? failure->message : "cannot be moved to the Trash");
        if (failure) g_error_free(failure);
    }
    g_object_unref(file);
    return ok;
}
