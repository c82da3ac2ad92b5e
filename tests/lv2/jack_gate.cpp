// LD_PRELOAD into a JACK client: its process callback is not called until
// every audio input port it registered is connected. A host such as jalv
// starts running its plug-in on silence as soon as it is active; held back
// this way, the plug-in's first run() is the cycle in which the signal first
// arrives, and its output can be compared with a render from frame 0.
#include <dlfcn.h>
#include <jack/jack.h>
#include <cstring>

static JackProcessCallback held;
static void *held_arg;
static jack_port_t *inputs[16];
static int input_count;
static bool open_;

static int Gate(jack_nframes_t n, void *arg) {
  (void)arg;
  if (!open_) {
    bool connected = input_count > 0;
    for (int i = 0; i < input_count; ++i) connected = connected && jack_port_connected(inputs[i]) > 0;
    if (!connected) return 0;
    open_ = true;
  }
  return held(n, held_arg);
}

extern "C" int jack_set_process_callback(jack_client_t *client, JackProcessCallback process, void *arg) {
  auto next = reinterpret_cast<int (*)(jack_client_t *, JackProcessCallback, void *)>(
      dlsym(RTLD_NEXT, "jack_set_process_callback"));
  held = process;
  held_arg = arg;
  return next(client, Gate, nullptr);
}

extern "C" jack_port_t *jack_port_register(jack_client_t *client, const char *name, const char *type, unsigned long flags,
                                unsigned long size) {
  auto next = reinterpret_cast<jack_port_t *(*)(jack_client_t *, const char *, const char *, unsigned long,
                                                unsigned long)>(dlsym(RTLD_NEXT, "jack_port_register"));
  jack_port_t *port = next(client, name, type, flags, size);
  if (port && (flags & JackPortIsInput) && strcmp(type, JACK_DEFAULT_AUDIO_TYPE) == 0 && input_count < 16)
    inputs[input_count++] = port;
  return port;
}
