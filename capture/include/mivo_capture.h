/*
 * libmivo_capture: records what the machine plays (every process's audio
 * output except this process's own) and hands it to the host as mono 32-bit
 * float frames. Follows changes of the default output device by rebuilding
 * its capture chain on the new device.
 *
 * At most one capture runs per process. All three functions may be called
 * from any thread, also concurrently. No function raises an error: failures
 * are status codes plus the text behind mivo_capture_last_error().
 */
#ifndef MIVO_CAPTURE_H
#define MIVO_CAPTURE_H

#include <stdint.h>

/* The version of this header and of the library it belongs to. The major
 * number is the library's SONAME number (libmivo_capture.so.1). */
#define MIVO_CAPTURE_VERSION_MAJOR 1
#define MIVO_CAPTURE_VERSION_MINOR 0
#define MIVO_CAPTURE_VERSION_PATCH 0

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes of mivo_tap_start. */
#define MIVO_TAP_OK 0                /* capturing */
#define MIVO_TAP_ALREADY_CAPTURING 1 /* a capture is registered; nothing was created */
#define MIVO_TAP_SUPERSEDED 4        /* a concurrent mivo_tap_stop won; the capture was stopped */
#define MIVO_TAP_TAP_FAILED 6        /* no sound server, or the process tap failed */
#define MIVO_TAP_AGGREGATE_FAILED                                                        \
  7                          /* no default output, it cannot be followed, or the capture \
                                device failed */
#define MIVO_TAP_IO_FAILED 8 /* the IO callback could not be registered or started */

/*
 * One IO cycle of captured audio, downmixed to mono.
 *   ctx         the value given to mivo_tap_start
 *   source      stream tag, always 0 (system audio)
 *   samples     frameCount mono samples; owned by the library and valid only
 *               until the callback returns (copy what you keep); never null
 *   frameCount  at least 1
 *   sampleRate  in Hz; the first cycles after a (re)build may still carry
 *               the previous rate (48000 before the first build completes)
 * Called on the library's audio thread, one call at a time, never
 * concurrently with another frame callback of the same capture.
 */
typedef void (*mivo_frame_callback)(void* ctx, uint8_t source, const float* samples,
                                    int32_t frameCount, int32_t sampleRate);

/*
 * The capture has gone silent: the default output changed and the rebuild
 * on the new device failed. The capture stays registered and resumes by
 * itself (frames simply arrive again) when a later change gives a usable
 * device; only mivo_tap_stop ends it. Called on the library's control
 * thread.
 */
typedef void (*mivo_stopped_callback)(void* ctx);

/*
 * Starts capturing. Returns only when the chain runs (MIVO_TAP_OK) or the
 * start failed (another MIVO_TAP_* code, the reason in
 * mivo_capture_last_error()). ctx is never dereferenced. A null callback is
 * simply never called. When a start fails, no callback of it runs any more,
 * so the host may free ctx.
 */
int32_t mivo_tap_start(void* ctx, mivo_frame_callback onFrame, mivo_stopped_callback onStopped);

/*
 * Stops the capture, if any, and returns 0. When it returns, no frame
 * callback and no stopped callback of that capture runs any more, so the
 * host may free ctx. May be called from inside a callback: the stop then
 * completes when it returns, except for the callback that made the call.
 */
int32_t mivo_tap_stop(void);

/*
 * The text of the most recent failure, or null before any failure. Success
 * never clears it. Owned by the library. Each calling thread gets its own
 * reference: the text stays valid and unchanged until the same thread calls
 * mivo_capture_last_error again or ends, even when a failure is recorded
 * meanwhile (a rebuild on the library's control thread may record one at
 * any moment). Copy it if you need it longer.
 */
const char* mivo_capture_last_error(void);

#ifdef __cplusplus
}
#endif

#endif /* MIVO_CAPTURE_H */
