#include "Platform/PipeWire/ZVScreenCastPortal.h"

#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <memory>

#include "Platform/PipeWire/ZVScreenCastTokenFile.h"

namespace {
constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kScreenCast = "org.freedesktop.portal.ScreenCast";
constexpr const char* kRequest = "org.freedesktop.portal.Request";
// Where the portal keeps what a restore token stands for; it answers for every backend.
constexpr const char* kPermissionStore = "org.freedesktop.impl.portal.PermissionStore";
constexpr const char* kPermissionStorePath = "/org/freedesktop/impl/portal/PermissionStore";
constexpr const char* kInstallHint =
    "install xdg-desktop-portal and the portal of your desktop (xdg-desktop-portal-gnome, "
    "xdg-desktop-portal-kde or xdg-desktop-portal-wlr)";
// A plain call answers at once; Start waits while the user chooses in the dialog.
constexpr int kCallTimeoutMs = 30'000;
constexpr unsigned kChoiceTimeoutSeconds = 300;

std::string takeMessage(GError* error) {
    std::string message = error ? error->message : "unknown failure";
    if (error) {
        // The remote error's D-Bus name adds nothing a user can act on.
        g_dbus_error_strip_remote_error(error);
        message = error->message;
        g_error_free(error);
    }
    return message;
}

struct VariantDeleter {
    void operator()(GVariant* v) const { g_variant_unref(v); }
};
using Variant = std::unique_ptr<GVariant, VariantDeleter>;

// One conversation with the portal: a private connection to the session bus, so that the
// portal's session ends when the grant lets go of it (the portal closes what a departed
// peer opened), and a private main context that the waiting thread alone runs.
class Conversation {
  public:
    ~Conversation() {
        if (!_sessionHandle.empty())
            g_dbus_connection_call_sync(_bus, kPortal, _sessionHandle.c_str(),
                                        "org.freedesktop.portal.Session", "Close", nullptr, nullptr,
                                        G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr);
        if (_bus) {
            g_dbus_connection_close_sync(_bus, nullptr, nullptr);
            g_object_unref(_bus);
        }
        g_main_context_unref(_context);
    }

    bool connect(std::string* error) {
        GError* failure = nullptr;
        gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &failure);
        if (!address) {
            *error = "no D-Bus session bus (" + takeMessage(failure) +
                     "): screen sharing on Wayland goes through the desktop portal on it";
            return false;
        }
        _bus = g_dbus_connection_new_for_address_sync(
            address,
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &failure);
        const std::string where = address;
        g_free(address);
        if (!_bus) {
            *error = "cannot reach the D-Bus session bus at " + where + ": " + takeMessage(failure);
            return false;
        }
        // The portal names each request's object after the caller's unique name.
        std::string sender = g_dbus_connection_get_unique_name(_bus) + 1;
        for (char& c : sender)
            if (c == '.') c = '_';
        _sender = sender;
        return true;
    }

    // A property of the ScreenCast interface; nullptr with *error when the portal or the
    // interface is missing.
    Variant property(const char* name, std::string* error) {
        GError* failure = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(
            _bus, kPortal, kPortalPath, "org.freedesktop.DBus.Properties", "Get",
            g_variant_new("(ss)", kScreenCast, name), G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE,
            kCallTimeoutMs, nullptr, &failure);
        if (!reply) {
            const bool noPortal =
                g_error_matches(failure, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
                g_error_matches(failure, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER);
            const bool noInterface =
                g_error_matches(failure, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS) ||
                g_error_matches(failure, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_INTERFACE) ||
                g_error_matches(failure, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY) ||
                g_error_matches(failure, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD);
            const std::string why = takeMessage(failure);
            if (noPortal)
                *error = "the desktop portal is not running (no " + std::string(kPortal) +
                         " on the session bus): " + kInstallHint;
            else if (noInterface)
                *error = "the desktop portal offers no screen sharing (no " +
                         std::string(kScreenCast) + "): " + kInstallHint;
            else
                *error = "the desktop portal does not answer: " + why;
            return nullptr;
        }
        GVariant* value = nullptr;
        g_variant_get(reply, "(v)", &value);
        g_variant_unref(reply);
        return Variant(value);
    }

    // Calls `method` with the arguments `build` makes from its request token (the
    // options' handle_token), then waits for that request's Response. The response code
    // (0 granted, 1 refused by the user, 2 ended otherwise) in *code and the results, or
    // nullptr with *error when the call itself failed or no answer came.
    Variant request(const char* method, const std::function<GVariant*(const char* token)>& build,
                    unsigned timeoutSeconds, uint32_t* code, std::string* error) {
        const std::string token =
            "zorvan" + std::to_string(getpid()) + "_" + std::to_string(++_requests);
        const std::string path = std::string(kPortalPath) + "/request/" + _sender + "/" + token;
        struct Answer {
            bool done = false;
            bool vanished = false;
            uint32_t code = 2;
            GVariant* results = nullptr;
        } answer;

        // Everything below is dispatched on our own context, which only this thread runs.
        g_main_context_push_thread_default(_context);
        // Subscribed before the call, so that a quick Response cannot be missed.
        const guint subscription = g_dbus_connection_signal_subscribe(
            _bus, nullptr, kRequest, "Response", path.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
               GVariant* parameters, gpointer data) {
                auto* a = static_cast<Answer*>(data);
                if (a->done) return;
                g_variant_get(parameters, "(u@a{sv})", &a->code, &a->results);
                a->done = true;
            },
            &answer, nullptr);
        // A portal that goes away mid-request never answers.
        const guint watch = g_bus_watch_name_on_connection(
            _bus, kPortal, G_BUS_NAME_WATCHER_FLAGS_NONE, nullptr,
            [](GDBusConnection*, const gchar*, gpointer data) {
                static_cast<Answer*>(data)->vanished = true;
            },
            &answer, nullptr);
        GSource* timer = g_timeout_source_new_seconds(timeoutSeconds);
        bool timedOut = false;
        g_source_set_callback(
            timer,
            [](gpointer data) {
                *static_cast<bool*>(data) = true;
                return G_SOURCE_REMOVE;
            },
            &timedOut, nullptr);
        g_source_attach(timer, _context);

        GError* failure = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(
            _bus, kPortal, kPortalPath, kScreenCast, method, build(token.c_str()),
            G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &failure);
        if (!reply)
            *error =
                std::string("the desktop portal refused ") + method + ": " + takeMessage(failure);
        else
            g_variant_unref(reply);
        while (reply && !answer.done && !answer.vanished && !timedOut)
            g_main_context_iteration(_context, TRUE);

        g_source_destroy(timer);
        g_source_unref(timer);
        g_bus_unwatch_name(watch);
        g_dbus_connection_signal_unsubscribe(_bus, subscription);
        // The unsubscription's and the watch's last calls are dispatched here.
        while (g_main_context_iteration(_context, FALSE)) {
        }
        g_main_context_pop_thread_default(_context);

        if (!reply) return nullptr;
        if (!answer.done) {
            *error = answer.vanished ? std::string("the desktop portal went away during ") + method
                                     : std::string("the desktop portal did not answer ") + method +
                                           " within " + std::to_string(timeoutSeconds) + " s";
            return nullptr;
        }
        *code = answer.code;
        return Variant(answer.results);
    }

    // Whether the portal still knows the restore token `token`; true when that cannot be
    // told (no permission store), so the portal decides.
    bool knowsToken(const std::string& token) {
        GError* failure = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(
            _bus, kPermissionStore, kPermissionStorePath, kPermissionStore, "Lookup",
            g_variant_new("(ss)", "screencast", token.c_str()), nullptr, G_DBUS_CALL_FLAGS_NONE,
            kCallTimeoutMs, nullptr, &failure);
        if (reply) {
            g_variant_unref(reply);
            return true;
        }
        // The store answers an unknown id with its own NotFound error.
        gchar* remote = g_dbus_error_get_remote_error(failure);
        const bool notFound =
            remote && std::string(remote) == "org.freedesktop.portal.Error.NotFound";
        g_free(remote);
        g_error_free(failure);
        return !notFound;
    }

    // The PipeWire connection of the started session; -1 with *error.
    int openPipeWireRemote(std::string* error) {
        GError* failure = nullptr;
        GUnixFDList* fds = nullptr;
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
        GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
            _bus, kPortal, kPortalPath, kScreenCast, "OpenPipeWireRemote",
            g_variant_new("(oa{sv})", _sessionHandle.c_str(), &options), G_VARIANT_TYPE("(h)"),
            G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &fds, nullptr, &failure);
        if (!reply) {
            *error =
                "PipeWire is not reachable through the desktop portal: " + takeMessage(failure) +
                " (is pipewire running?)";
            return -1;
        }
        gint32 index = -1;
        g_variant_get(reply, "(h)", &index);
        g_variant_unref(reply);
        int fd = fds ? g_unix_fd_list_get(fds, index, &failure) : -1;
        if (fds) g_object_unref(fds);
        if (fd < 0)
            *error =
                "PipeWire is not reachable through the desktop portal: " + takeMessage(failure);
        return fd;
    }

    std::string _sessionHandle;  // set once CreateSession answered; closed at the end

  private:
    GMainContext* _context = g_main_context_new();
    GDBusConnection* _bus = nullptr;
    std::string _sender;
    unsigned _requests = 0;
};

uint32_t uintProperty(Conversation& c, const char* name, std::string* error, bool* ok) {
    Variant value = c.property(name, error);
    if (!value) {
        *ok = false;
        return 0;
    }
    return g_variant_is_of_type(value.get(), G_VARIANT_TYPE_UINT32)
               ? g_variant_get_uint32(value.get())
               : 0;
}

std::optional<ZVScreenCastOffer> offerOf(Conversation& c, std::string* error) {
    bool ok = true;
    ZVScreenCastOffer offer;
    offer.version = uintProperty(c, "version", error, &ok);
    if (!ok) return std::nullopt;
    offer.sourceTypes = uintProperty(c, "AvailableSourceTypes", error, &ok);
    // Cursor modes came with the interface's second version.
    if (ok && offer.version >= 2)
        offer.cursorModes = uintProperty(c, "AvailableCursorModes", error, &ok);
    if (!ok) return std::nullopt;
    return offer;
}

std::string sourceNames(uint32_t types) {
    std::string names;
    for (auto [bit, name] :
         {std::pair{kZVSourceMonitor, "monitor"}, std::pair{kZVSourceWindow, "window"},
          std::pair{kZVSourceVirtual, "virtual monitor"}})
        if (types & bit) names += (names.empty() ? "" : " or ") + std::string(name);
    return names.empty() ? "nothing" : names;
}

// The line for a request that did not end in a grant.
std::string refusal(const char* method, uint32_t code) {
    if (code == 1) return "screen sharing was refused (the dialog was cancelled or closed)";
    return std::string("the desktop portal ended the screen-sharing request at ") + method +
           " (code " + std::to_string(code) +
           "): the screen could not be shared; is PipeWire running?";
}

// Why the user's PipeWire server cannot be reached, or empty. Asked before the dialog: a
// portal whose PipeWire is gone accepts the request and then never answers Start.
std::string pipewireProblem() {
    const char* remote = std::getenv("PIPEWIRE_REMOTE");
    std::string name = remote && *remote ? remote : "pipewire-0";
    if (name[0] != '/') {
        const char* dir = std::getenv("PIPEWIRE_RUNTIME_DIR");
        if (!dir || !*dir) dir = std::getenv("XDG_RUNTIME_DIR");
        if (!dir || !*dir) return {};  // PipeWire's own fallbacks: let the portal try
        name = std::string(dir) + "/" + name;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (name.size() >= sizeof(address.sun_path)) return {};
    std::memcpy(address.sun_path, name.c_str(), name.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {};
    const bool reached = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    const int why = errno;
    close(fd);
    if (reached) return {};
    return "PipeWire is not running (" + name + ": " + std::strerror(why) +
           "): screen sharing on Wayland streams through it; start pipewire (Debian package "
           "pipewire) or log in anew";
}

// A request's options, starting with the token the portal names its Request object by.
void startOptions(GVariantBuilder* options, const char* token) {
    g_variant_builder_init(options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(options, "{sv}", "handle_token", g_variant_new_string(token));
}

std::vector<ZVScreenCastStream> streamsOf(GVariant* results) {
    std::vector<ZVScreenCastStream> streams;
    GVariant* list = g_variant_lookup_value(results, "streams", G_VARIANT_TYPE("a(ua{sv})"));
    if (!list) return streams;
    GVariantIter iter;
    g_variant_iter_init(&iter, list);
    uint32_t node = 0;
    GVariant* props = nullptr;
    while (g_variant_iter_next(&iter, "(u@a{sv})", &node, &props)) {
        ZVScreenCastStream s;
        s.nodeId = node;
        const gchar* id = nullptr;
        if (g_variant_lookup(props, "id", "&s", &id)) s.id = id;
        g_variant_lookup(props, "source_type", "u", &s.sourceType);
        gint32 x = 0, y = 0;
        if (g_variant_lookup(props, "position", "(ii)", &x, &y)) s.position = {float(x), float(y)};
        if (g_variant_lookup(props, "size", "(ii)", &x, &y)) s.size = {float(x), float(y)};
        streams.push_back(s);
        g_variant_unref(props);
    }
    g_variant_unref(list);
    return streams;
}
}  // namespace

uint32_t ZVScreenCastPortal::chooseCursorMode(uint32_t modes, bool preferMetadata) {
    if (preferMetadata && (modes & kZVCursorMetadata)) return kZVCursorMetadata;
    if (modes & kZVCursorEmbedded) return kZVCursorEmbedded;
    if (modes & kZVCursorHidden) return kZVCursorHidden;
    return modes & kZVCursorMetadata ? uint32_t(kZVCursorMetadata) : 0u;
}

std::optional<ZVScreenCastOffer> ZVScreenCastPortal::offer(std::string* error) {
    std::string ignored;
    if (!error) error = &ignored;
    Conversation c;
    if (!c.connect(error)) return std::nullopt;
    return offerOf(c, error);
}

std::optional<ZVScreenCastGrant> ZVScreenCastPortal::open(const ZVScreenCastRequest& request,
                                                          std::string* error) {
    std::string ignored;
    if (!error) error = &ignored;
    auto c = std::make_shared<Conversation>();
    if (!c->connect(error)) return std::nullopt;
    auto offer = offerOf(*c, error);
    if (!offer) return std::nullopt;
    if (!(offer->sourceTypes & request.sourceTypes)) {
        *error = "the desktop portal cannot share a " + sourceNames(request.sourceTypes) +
                 " here (it offers " + sourceNames(offer->sourceTypes) + ")";
        return std::nullopt;
    }
    const uint32_t types = offer->sourceTypes & request.sourceTypes;
    if (std::string problem = pipewireProblem(); !problem.empty()) {
        *error = problem;
        return std::nullopt;
    }
    // Restore tokens came with the interface's fourth version.
    const bool persists = offer->version >= 4;
    std::optional<ZVKeptScreenCastToken> kept;
    if (persists && !request.askAnew) kept = ZVScreenCastTokenFile::load(types);
    const std::string desktop = ZVScreenCastTokenFile::currentDesktop();
    if (kept && kept->desktop != desktop) {
        request.tell("the kept screen-sharing permission belongs to another desktop (" +
                     kept->desktop + "): dropped, asking anew");
        kept.reset();
    } else if (kept && !c->knowsToken(kept->token)) {
        request.tell(
            "the kept screen-sharing permission is no longer known to the desktop "
            "portal: dropped, asking anew");
        kept.reset();
    }

    uint32_t code = 2;
    const std::string sessionToken = "zorvan" + std::to_string(getpid());
    Variant created = c->request(
        "CreateSession",
        [&](const char* token) {
            GVariantBuilder o;
            startOptions(&o, token);
            g_variant_builder_add(&o, "{sv}", "session_handle_token",
                                  g_variant_new_string(sessionToken.c_str()));
            return g_variant_new("(a{sv})", &o);
        },
        kChoiceTimeoutSeconds, &code, error);
    if (!created) return std::nullopt;
    if (code != 0) {
        *error = refusal("CreateSession", code);
        return std::nullopt;
    }
    const gchar* handle = nullptr;
    if (!g_variant_lookup(created.get(), "session_handle", "&s", &handle) ||
        !g_variant_is_object_path(handle)) {
        *error = "the desktop portal gave no screen-sharing session";
        return std::nullopt;
    }
    c->_sessionHandle = handle;

    const uint32_t cursorMode = chooseCursorMode(offer->cursorModes, request.preferCursorMetadata);
    Variant selected = c->request(
        "SelectSources",
        [&](const char* token) {
            GVariantBuilder o;
            startOptions(&o, token);
            g_variant_builder_add(&o, "{sv}", "types", g_variant_new_uint32(types));
            g_variant_builder_add(&o, "{sv}", "multiple", g_variant_new_boolean(FALSE));
            if (cursorMode)
                g_variant_builder_add(&o, "{sv}", "cursor_mode", g_variant_new_uint32(cursorMode));
            if (persists) {
                // Kept until the user revokes it, so the next recording asks nothing.
                g_variant_builder_add(&o, "{sv}", "persist_mode", g_variant_new_uint32(2));
                if (kept)
                    g_variant_builder_add(&o, "{sv}", "restore_token",
                                          g_variant_new_string(kept->token.c_str()));
            }
            return g_variant_new("(oa{sv})", c->_sessionHandle.c_str(), &o);
        },
        kChoiceTimeoutSeconds, &code, error);
    if (!selected) return std::nullopt;
    if (code != 0) {
        *error = refusal("SelectSources", code);
        return std::nullopt;
    }

    Variant started = c->request(
        "Start",
        [&](const char* token) {
            GVariantBuilder o;
            startOptions(&o, token);
            return g_variant_new("(osa{sv})", c->_sessionHandle.c_str(), "", &o);
        },
        kChoiceTimeoutSeconds, &code, error);
    if (!started) return std::nullopt;
    if (code != 0) {
        *error = refusal("Start", code);
        return std::nullopt;
    }

    ZVScreenCastGrant grant;
    grant.streams = streamsOf(started.get());
    if (grant.streams.empty()) {
        *error = "the desktop portal granted no stream to record";
        return std::nullopt;
    }
    grant.cursorMode = cursorMode ? cursorMode : uint32_t(kZVCursorEmbedded);
    const gchar* restore = nullptr;
    if (g_variant_lookup(started.get(), "restore_token", "&s", &restore))
        grant.restoreToken = restore;
    if (persists && !grant.restoreToken.empty()) {
        std::string why;
        if (!ZVScreenCastTokenFile::store(types, {desktop, grant.restoreToken}, &why))
            request.tell("the screen-sharing permission could not be kept (" + why +
                         "): the next recording asks again");
    }
    grant.pipewireFd = c->openPipeWireRemote(error);
    if (grant.pipewireFd < 0) return std::nullopt;
    grant.session = c;
    return grant;
}
