/* LD_PRELOAD shim for xdg-desktop-portal-wlr 0.7.x on a compositor without DMA-BUF.
 * xdpw 0.7.x start_screencast() requires a zwlr_screencopy_frame_v1.linux_dmabuf event
 * ("unable to receive a valid format from wlr_screencopy") because it compares its portal
 * interface version (4) instead of the screencopy version. wlroots with the pixman
 * renderer never sends that event. We wrap the frame listener and, if buffer_done comes
 * without linux_dmabuf, deliver linux_dmabuf(format of the SHM buffer, w, h) first.
 * No zwp_linux_dmabuf modifiers are advertised, so xdpw offers PipeWire only SHM. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
struct wl_proxy;
extern const char *wl_proxy_get_class(struct wl_proxy *proxy);
extern uint32_t wl_proxy_get_version(struct wl_proxy *proxy);
struct frame_listener { /* zwlr_screencopy_frame_v1 v3 events, wire order */
	void (*buffer)(void *, struct wl_proxy *, uint32_t, uint32_t, uint32_t, uint32_t);
	void (*flags)(void *, struct wl_proxy *, uint32_t);
	void (*ready)(void *, struct wl_proxy *, uint32_t, uint32_t, uint32_t);
	void (*failed)(void *, struct wl_proxy *);
	void (*damage)(void *, struct wl_proxy *, uint32_t, uint32_t, uint32_t, uint32_t);
	void (*linux_dmabuf)(void *, struct wl_proxy *, uint32_t, uint32_t, uint32_t);
	void (*buffer_done)(void *, struct wl_proxy *);
};
static const struct frame_listener *orig;
static uint32_t shm_fmt, shm_w, shm_h; /* one frame's events arrive back to back */
static int have_shm, have_dmabuf;
static uint32_t shm_to_drm(uint32_t f) {
	if (f == 0) return 0x34325241; /* ARGB8888 */
	if (f == 1) return 0x34325258; /* XRGB8888 */
	return f;                      /* other wl_shm codes are DRM fourccs */
}
static void w_buffer(void *d, struct wl_proxy *p, uint32_t f, uint32_t w, uint32_t h, uint32_t s) {
	shm_fmt = f; shm_w = w; shm_h = h; have_shm = 1; have_dmabuf = 0;
	if (orig->buffer) orig->buffer(d, p, f, w, h, s);
}
static void w_flags(void *d, struct wl_proxy *p, uint32_t fl) { if (orig->flags) orig->flags(d, p, fl); }
static void w_ready(void *d, struct wl_proxy *p, uint32_t a, uint32_t b, uint32_t c) {
	if (orig->ready) orig->ready(d, p, a, b, c);
}
static void w_failed(void *d, struct wl_proxy *p) { if (orig->failed) orig->failed(d, p); }
static void w_damage(void *d, struct wl_proxy *p, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
	if (orig->damage) orig->damage(d, p, x, y, w, h);
}
static void w_linux_dmabuf(void *d, struct wl_proxy *p, uint32_t f, uint32_t w, uint32_t h) {
	have_dmabuf = 1;
	if (orig->linux_dmabuf) orig->linux_dmabuf(d, p, f, w, h);
}
static void w_buffer_done(void *d, struct wl_proxy *p) {
	if (have_shm && !have_dmabuf && orig->linux_dmabuf)
		orig->linux_dmabuf(d, p, shm_to_drm(shm_fmt), shm_w, shm_h);
	have_shm = have_dmabuf = 0;
	if (orig->buffer_done) orig->buffer_done(d, p);
}
static const struct frame_listener wrapped = {
	w_buffer, w_flags, w_ready, w_failed, w_damage, w_linux_dmabuf, w_buffer_done,
};
int wl_proxy_add_listener(struct wl_proxy *proxy, void (**impl)(void), void *data) {
	static int (*real)(struct wl_proxy *, void (**)(void), void *);
	if (!real)
		real = (int (*)(struct wl_proxy *, void (**)(void), void *))dlsym(RTLD_NEXT, "wl_proxy_add_listener");
	const char *cls = wl_proxy_get_class(proxy);
	if (cls && strcmp(cls, "zwlr_screencopy_frame_v1") == 0 && wl_proxy_get_version(proxy) >= 3) {
		if (!orig) fprintf(stderr, "xdpw-shm-shim: wrapping zwlr_screencopy_frame_v1 listener\n");
		orig = (const struct frame_listener *)impl;
		impl = (void (**)(void))&wrapped;
	}
	return real(proxy, impl, data);
}
