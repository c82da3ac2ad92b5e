// jack_io IN.raw OUT.raw PREFIX: plays IN.raw (interleaved stereo float)
// into the two audio inputs whose JACK names begin with PREFIX (a client
// name and its colon, "jalv:", or Ardour's track ":Delay/audio_") and records
// the two audio outputs with that prefix into OUT.raw, the same number of
// frames.
//
// The player and the recorder are two clients of their own, so that the
// graph runs player, the ports' client, recorder in one cycle. The recorder is
// connected first; the player starts in the first cycle in which both of its
// outputs are connected, and the recorder records from that same cycle, so
// frame 0 of OUT.raw is what that client made of frame 0 of IN.raw.
#include <jack/jack.h>
#include <atomic>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <vector>

static jack_client_t *player, *recorder;
static jack_port_t *outs[2], *ins[2];
static float *input, *output;
static size_t frames;
static size_t played, recorded;
static std::atomic<unsigned> start_frame; /* the cycle's first frame + 1; 0 while waiting */
static std::atomic<int> finished;

static int Play(jack_nframes_t n, void *arg) {
  (void)arg;
  float *left = static_cast<float *>(jack_port_get_buffer(outs[0], n));
  float *right = static_cast<float *>(jack_port_get_buffer(outs[1], n));
  if (start_frame.load() == 0) {
    if (jack_port_connected(outs[0]) > 0 && jack_port_connected(outs[1]) > 0)
      start_frame.store(jack_last_frame_time(player) + 1);
  }
  for (jack_nframes_t i = 0; i < n; ++i) {
    int playing = start_frame.load() != 0 && played < frames;
    left[i] = playing ? input[2 * played] : 0.0f;
    right[i] = playing ? input[2 * played + 1] : 0.0f;
    played += static_cast<size_t>(playing);
  }
  return 0;
}

static int Record(jack_nframes_t n, void *arg) {
  (void)arg;
  unsigned start = start_frame.load();
  if (start == 0 || jack_last_frame_time(recorder) + 1 < start) return 0;
  const float *left = static_cast<float *>(jack_port_get_buffer(ins[0], n));
  const float *right = static_cast<float *>(jack_port_get_buffer(ins[1], n));
  for (jack_nframes_t i = 0; i < n && recorded < frames; ++i, ++recorded) {
    output[2 * recorded] = left[i];
    output[2 * recorded + 1] = right[i];
  }
  if (recorded == frames) finished.store(1);
  return 0;
}

static jack_client_t *Open(const char *name, JackProcessCallback process, jack_port_t **ports,
                           unsigned long flags) {
  jack_client_t *client = jack_client_open(name, JackNoStartServer, nullptr);
  if (!client) {
    fprintf(stderr, "jack_io: no JACK server to open %s on\n", name);
    exit(1);
  }
  jack_set_process_callback(client, process, nullptr);
  for (int c = 0; c < 2; ++c) {
    char port[8];
    snprintf(port, sizeof port, "%s_%c", flags == JackPortIsOutput ? "out" : "in", "lr"[c]);
    ports[c] = jack_port_register(client, port, JACK_DEFAULT_AUDIO_TYPE, flags, 0);
  }
  return client;
}

/* The two audio ports of CLIENT with the given direction, waiting up to
 * 20 s for them to appear. */
static const char **PortsOf(jack_client_t *client, const char *name, unsigned long flags) {
  char pattern[256];
  snprintf(pattern, sizeof pattern, "^%s", name);
  for (int tries = 0; tries < 2000; ++tries) {
    const char **ports = jack_get_ports(client, pattern, JACK_DEFAULT_AUDIO_TYPE, flags);
    int count = 0;
    while (ports && ports[count]) ++count;
    if (count == 2) return ports;
    jack_free(ports);
    usleep(10000);
  }
  fprintf(stderr, "jack_io: %s has no two audio ports of each direction\n", name);
  exit(1);
}

int main(int argc, char **argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: jack_io IN.raw OUT.raw PREFIX\n");
    return 2;
  }
  FILE *in = fopen(argv[1], "rb");
  if (!in || fseek(in, 0, SEEK_END) != 0) {
    fprintf(stderr, "jack_io: cannot read %s\n", argv[1]);
    return 1;
  }
  frames = (size_t)ftell(in) / (2 * sizeof(float));
  rewind(in);
  static std::vector<float> in_samples, out_samples;
  in_samples.resize(frames * 2);
  out_samples.resize(frames * 2);
  input = in_samples.data();
  output = out_samples.data();
  if (fread(input, 2 * sizeof(float), frames, in) != frames) return 1;
  fclose(in);

  player = Open("velmor_player", Play, outs, JackPortIsOutput);
  recorder = Open("velmor_recorder", Record, ins, JackPortIsInput);
  if (jack_activate(recorder) || jack_activate(player)) return 1;
  const char **sources = PortsOf(recorder, argv[3], JackPortIsOutput);
  const char **sinks = PortsOf(player, argv[3], JackPortIsInput);
  for (int c = 0; c < 2; ++c)
    if (jack_connect(recorder, sources[c], jack_port_name(ins[c])) != 0) return 1;
  for (int c = 0; c < 2; ++c)
    if (jack_connect(player, jack_port_name(outs[c]), sinks[c]) != 0) return 1;
  for (int waited = 0; !finished.load(); ++waited) {
    if (waited > 120000) {
      fprintf(stderr, "jack_io: %zu of %zu frames recorded after 120 s\n", recorded, frames);
      return 1;
    }
    usleep(1000);
  }
  jack_client_close(player);
  jack_client_close(recorder);
  FILE *out = fopen(argv[2], "wb");
  if (!out || fwrite(output, 2 * sizeof(float), frames, out) != frames || fclose(out) != 0) return 1;
  return 0;
}
