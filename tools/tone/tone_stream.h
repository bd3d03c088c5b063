/* A playback stream of a sine tone on its own PipeWire connection, linked
 * by the session manager to the default output. In click mode it plays
 * silence with a short burst at every period and reports the moment each
 * burst was written. */
#ifndef MIVO_TOOLS_TONE_STREAM_H
#define MIVO_TOOLS_TONE_STREAM_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct tone_stream;

/* Called on the stream's thread with the CLOCK_MONOTONIC time (ns) at which
 * the buffer starting with a burst was handed to the server. */
typedef void (*tone_onset_callback)(void* user, uint64_t monotonic_ns);

/* Continuous tone; NULL when no server answers. A frequency of 0 or less
 * plays a ramp instead: a sawtooth rising from 0 by amplitude/48000 each
 * frame and falling back every second, so that a gap in a capture shows as
 * a jump of the number of frames it lost. */
struct tone_stream* tone_stream_start(double frequency, float amplitude);
/* The same with channel positions ("FL,FR,FC,LFE,RL,RR"), the tone only on
 * the channels listed in tone_channels ("FC"; NULL: on all). */
struct tone_stream* tone_stream_start_layout(double frequency, float amplitude, const char* layout,
                                             const char* tone_channels);
/* Bursts of 20 ms every period_ms. */
struct tone_stream* tone_stream_start_clicks(double frequency, float amplitude, int period_ms,
                                             tone_onset_callback on_onset, void* user);
void tone_stream_stop(struct tone_stream* stream);

#ifdef __cplusplus
}
#endif

#endif
