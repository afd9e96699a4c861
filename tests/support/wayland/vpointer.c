/* vpointer [X Y [W H]]: create a zwlr_virtual_pointer_v1 on the default seat, warp it to
 * X,Y of a WxH output and stay connected (the device lives as long as the client).
 * "X Y" lines on stdin move it. Protocol tables hand-written (what wayland-scanner would
 * generate from wlr-virtual-pointer-unstable-v1.xml); only libwayland-client0 needed. */
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
struct wl_interface;
struct wl_message { const char *name; const char *signature; const struct wl_interface **types; };
struct wl_interface {
	const char *name; int version;
	int method_count; const struct wl_message *methods;
	int event_count; const struct wl_message *events;
};
struct wl_proxy;
struct wl_display;
extern const struct wl_interface wl_registry_interface, wl_seat_interface, wl_output_interface;
struct wl_display *wl_display_connect(const char *name);
void wl_display_disconnect(struct wl_display *d);
int wl_display_roundtrip(struct wl_display *d);
int wl_display_dispatch(struct wl_display *d);
int wl_display_flush(struct wl_display *d);
int wl_display_get_fd(struct wl_display *d);
struct wl_proxy *wl_proxy_marshal_constructor(struct wl_proxy *p, uint32_t op, const struct wl_interface *i, ...);
struct wl_proxy *wl_proxy_marshal_constructor_versioned(struct wl_proxy *p, uint32_t op,
		const struct wl_interface *i, uint32_t version, ...);
void wl_proxy_marshal(struct wl_proxy *p, uint32_t op, ...);
int wl_proxy_add_listener(struct wl_proxy *p, void (**impl)(void), void *data);
static const struct wl_interface zwlr_virtual_pointer_v1_interface;
static const struct wl_interface *no_types[] = { NULL, NULL, NULL, NULL, NULL };
static const struct wl_interface *create_types[] = { &wl_seat_interface, &zwlr_virtual_pointer_v1_interface };
static const struct wl_interface *create_out_types[] = {
	&wl_seat_interface, &wl_output_interface, &zwlr_virtual_pointer_v1_interface };
static const struct wl_message mgr_requests[] = {
	{ "create_virtual_pointer", "?on", create_types },
	{ "destroy", "", no_types },
	{ "create_virtual_pointer_with_output", "2?o?on", create_out_types },
};
static const struct wl_interface zwlr_virtual_pointer_manager_v1_interface = {
	"zwlr_virtual_pointer_manager_v1", 2, 3, mgr_requests, 0, NULL };
static const struct wl_message vp_requests[] = {
	{ "motion", "uff", no_types }, { "motion_absolute", "uuuuu", no_types },
	{ "button", "uuu", no_types }, { "axis", "uuf", no_types }, { "frame", "", no_types },
	{ "axis_source", "u", no_types }, { "axis_stop", "uu", no_types },
	{ "axis_discrete", "uufi", no_types }, { "destroy", "", no_types },
};
static const struct wl_interface zwlr_virtual_pointer_v1_interface = {
	"zwlr_virtual_pointer_v1", 2, 9, vp_requests, 0, NULL };
static struct wl_proxy *manager;
static void reg_global(void *data, struct wl_proxy *reg, uint32_t name, const char *iface, uint32_t ver) {
	(void)data; (void)ver;
	if (strcmp(iface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
		manager = wl_proxy_marshal_constructor_versioned(reg, 0 /* bind */,
			&zwlr_virtual_pointer_manager_v1_interface, 1,
			name, zwlr_virtual_pointer_manager_v1_interface.name, 1, NULL);
}
static void reg_global_remove(void *data, struct wl_proxy *reg, uint32_t name) {
	(void)data; (void)reg; (void)name;
}
static void (*reg_listener[])(void) = { (void (*)(void))reg_global, (void (*)(void))reg_global_remove };
static uint32_t now_ms(void) {
	struct timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return (uint32_t)(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}
static volatile sig_atomic_t quit;
static void on_sig(int s) { (void)s; quit = 1; }
int main(int argc, char **argv) {
	uint32_t x = argc > 2 ? atoi(argv[1]) : 640, y = argc > 2 ? atoi(argv[2]) : 360;
	uint32_t w = argc > 4 ? atoi(argv[3]) : 1280, h = argc > 4 ? atoi(argv[4]) : 720;
	struct wl_display *d = wl_display_connect(NULL);
	if (!d) { fprintf(stderr, "vpointer: cannot connect to Wayland display\n"); return 1; }
	struct wl_proxy *reg = wl_proxy_marshal_constructor((struct wl_proxy *)d, 1 /* get_registry */,
		&wl_registry_interface, NULL);
	wl_proxy_add_listener(reg, reg_listener, NULL);
	wl_display_roundtrip(d);
	if (!manager) { fprintf(stderr, "vpointer: no zwlr_virtual_pointer_manager_v1\n"); return 1; }
	struct wl_proxy *vp = wl_proxy_marshal_constructor(manager, 0 /* create_virtual_pointer */,
		&zwlr_virtual_pointer_v1_interface, NULL /* default seat */, NULL);
	wl_proxy_marshal(vp, 1 /* motion_absolute */, now_ms(), x, y, w, h);
	wl_proxy_marshal(vp, 4 /* frame */);
	wl_display_roundtrip(d);
	fprintf(stderr, "vpointer: virtual pointer at %u,%u of %ux%u\n", x, y, w, h);
	signal(SIGTERM, on_sig);
	signal(SIGINT, on_sig);
	struct pollfd fds[2] = { { wl_display_get_fd(d), POLLIN, 0 }, { 0, POLLIN, 0 } };
	int nfds = isatty(0) ? 1 : 2;
	char line[128];
	while (!quit) {
		wl_display_flush(d);
		if (poll(fds, nfds, -1) < 0) continue;
		if (fds[0].revents & (POLLERR | POLLHUP)) break;
		if ((fds[0].revents & POLLIN) && wl_display_dispatch(d) < 0) break;
		if (nfds == 2 && (fds[1].revents & (POLLIN | POLLHUP))) {
			ssize_t n = read(0, line, sizeof(line) - 1);
			if (n <= 0) { nfds = 1; continue; } /* stdin closed: keep the device */
			line[n] = 0;
			if (sscanf(line, "%u %u", &x, &y) == 2) {
				wl_proxy_marshal(vp, 1, now_ms(), x, y, w, h);
				wl_proxy_marshal(vp, 4);
			}
		}
	}
	wl_proxy_marshal(vp, 8 /* destroy */);
	wl_display_roundtrip(d);
	wl_display_disconnect(d);
	return 0;
}
