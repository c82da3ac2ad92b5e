// velmor-host: renders audio files through AviUtl2 audio filter plug-ins,
// validates plug-ins and plots what they do to test signals.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "framework/version.h"
#include "velmor-host/cli.h"

namespace {

const char* const kUsage =
    "usage: velmor-host COMMAND [ARGS]\n"
    "\n"
    "commands:\n"
    "  info PLUGIN [--html]             name, label, information line and every item\n"
    "  render PLUGIN IN OUT [options]   run an audio file through plug-ins\n"
    "  validate PLUGIN...               check plug-ins the way a host stresses them\n"
    "  response PLUGIN --svg OUT.svg    plot the magnitude response (sines)\n"
    "  gain PLUGIN --svg OUT.svg        plot the gain over time (a constant input)\n"
    "  impulse PLUGIN --svg OUT.svg     plot the impulse response, each channel\n"
    "  transfer PLUGIN --svg OUT.svg    plot output level against input level\n"
    "  pitch PLUGIN --svg OUT.svg       plot the pitch of a steady sine over time\n"
    "  lag PLUGIN --svg OUT.svg         plot the delay over time (a ramp input)\n"
    "  signal OUT [options]             write the built-in demo signal\n"
    "\n"
    "'velmor-host COMMAND --help' describes one command.\n";

// What every measuring command shares.
const char* const kMeasureOptions =
    "Each measurement drives fresh objects of the plug-in (at its defaults, then\n"
    "the --set values) one block per video frame at 30 fps, and writes a chart.\n\n"
    "  --svg OUT.svg        the chart (SVG)\n"
    "  --csv OUT.csv        the numbers: panel,series,x,y\n"
    "  --set NAME=VALUE     an item for every curve; after --panel or --series, for\n"
    "                       that panel or curve only\n"
    "  --series LABEL       a curve of its own (its --set values follow)\n"
    "  --each NAME=V1,V2,.. one curve per value\n"
    "  --panel TITLE        a panel of its own below the others (its --set values and\n"
    "                       curves follow)\n"
    "  --panel-each NAME=V1,V2,..  one panel per value\n"
    "  --title TEXT         the chart's title (default: the plug-in's name and settings)\n"
    "  --rate HZ            the sample rate (default 44100)\n"
    "  --from S             time charts: start the time axis at S seconds (a close-up)\n"
    "  --ymin Y, --ymax Y   fix the vertical axis's ends\n"
    "Channels 0 and 1 are drawn apart (channel 1 dashed) where they differ.\n\n"
    "Example: the filter's low-pass at three Q values, in one chart:\n"
    "  velmor-host response VelmorFilter.auf2 --svg q.svg --set カットオフ周波数=1000 \\\n"
    "      --each クォリティファクター=0.5,1,5\n";

// Each command: its name, what runs it and its help (a measurement's help
// ends in kMeasureOptions).
struct Command {
  const char* name;
  int (*run)(velmor::cli::Arguments& args, const char* self);
  const char* help;
  bool measures;
};

const Command kCommands[] = {
    {"info", [](velmor::cli::Arguments& a, const char*) { return velmor::cli::Info(a); },
     "usage: velmor-host info PLUGIN [--html [--english]]\n\n"
     "Prints the plug-in's name, label and information line, then every item:\n"
     "kind, label, default, range and step, and the options with their values.\n"
     "With --html, the same as an HTML fragment (a heading, the information line\n"
     "and a table of the items, its headings in Japanese, or with --english in\n"
     "English; the labels are the plug-in's own).\n",
     false},
    {"render", [](velmor::cli::Arguments& a, const char*) { return velmor::cli::Render(a); },
     "usage: velmor-host render PLUGIN IN OUT [--set NAME=VALUE]... [options]\n"
     "       velmor-host render IN OUT --plugin FILE [--set NAME=VALUE]... [--plugin FILE ...]...\n"
     "                          [--fps N] [--block N] [--rate HZ] [--rate-as-is] [--id N]\n"
     "                          [--tail SECONDS] [--quiet] [--stats]\n\n"
     "Reads IN (any file libsndfile reads: WAV, FLAC, AIFF, ...) and feeds it to the\n"
     "plug-ins as the editor plays one object: one block per video frame (sample rate\n"
     "/ fps samples; the last block shorter), frame numbers 0, 1, 2, ...  Each block\n"
     "passes through every plug-in in the order given, with the same frame number;\n"
     "each --set and --id belongs to the plug-in named before it.  Mono files\n"
     "are fed as two identical channels; files with more channels are refused.\n"
     "OUT is written through libsndfile, its format from the extension (.wav: 32-bit\n"
     "float, the default; .flac: 24-bit; .aiff, .caf, .w64, .au: float; .ogg).\n\n"
     "  --plugin FILE     the next plug-in of the stack\n"
     "  --set NAME=VALUE  an item by its label (full-width letters, digits and\n"
     "                    parentheses as typed on a Japanese keyboard match too), its\n"
     "                    LV2 port symbol (our plug-ins: cutoff, band_100) or its\n"
     "                    1-based index; a drop-down list takes an option text or an\n"
     "                    option number.  Quote a label with parentheses for the\n"
     "                    shell: --set '音量(原音)=50'.  Values are finite decimals.\n"
     "  --set NAME=T:V,T:V,...\n"
     "                    keyframes, T in seconds from the start (0 or later), each\n"
     "                    later than the one before: the\n"
     "                    value moves linearly between them (a drop-down list steps\n"
     "                    at each), is held before the first and after the last, and\n"
     "                    is taken at each frame's start\n"
     "  --fps N           video frames per second (default 30)\n"
     "  --block N         blocks of N samples instead of one per video frame, as\n"
     "                    LV2 hosts run them (ffmpeg: 1024, lv2apply: 1)\n"
     "  --rate HZ         tell the plug-ins this project rate (samples are not resampled)\n"
     "  --rate-as-is      tell the plug-ins the file's own rate (the default)\n"
     "  --id N            the timeline object's id (default 1); after a --plugin, that\n"
     "                    plug-in's own.  Two uses of one library with one id share\n"
     "                    one object's state, as in the editor (a warning says so)\n"
     "  --tail SECONDS    silence after the input, so that echoes and releases ring out\n"
     "  --quiet           no progress bar (shown only when stderr is a terminal)\n"
     "  --stats           print, for input and output, peak and RMS (dBFS), integrated\n"
     "                    loudness (LUFS), loudness range (LU) and true peak (dBTP),\n"
     "                    and the speed\n\n"
     "Warnings (on stderr, once each): an input sample that is not a finite number,\n"
     "with its time; an input that ends before its header says; output beyond full\n"
     "scale (clipped in .flac, kept in the float formats), and with --stats a true\n"
     "peak above 0 dBTP; output that is not finite, written as 0 (NaN) or full scale\n"
     "in .flac.  A plug-in named without a folder that is not in the current one is\n"
     "looked for beside velmor-host (the build's plugins/, <prefix>/lib/velmor/).\n"
     "OUT is written into the path named: a link's target, a device, standard\n"
     "output for - (WAV), an existing file keeping its mode and other hard links;\n"
     "never over IN.  Ctrl-C or a kill, kill -9 too, leaves no partial file behind.\n"
     "  --null, -n        render without writing (for --stats)\n"
     "  --raw             OUT as headerless interleaved samples, 32-bit float unless\n"
     "                    --bits says (with - : raw float to standard output, as sox's)\n"
     "  --bits 16|24|32|float  the output's samples (default: the input's, where OUT's\n"
     "                    format holds them)\n"
     "  --channels 1|2    2 (default), or 1: the mean of the two\n\n"
     "Example: an equalizer, then a low-pass whose cutoff falls from 8000 Hz to\n"
     "300 Hz over the first four seconds, then a delay:\n"
     "  velmor-host render in.wav out.wav --plugin VelmorEqualizer.auf2 --set 100Hz=6 \\\n"
     "      --plugin VelmorFilter.auf2 --set カットオフ周波数=0:8000,4:300 \\\n"
     "      --plugin VelmorDelay.auf2 --set ディレイタイム=250 --stats\n",
     false},
    {"validate", [](velmor::cli::Arguments& a, const char* self) { return velmor::cli::Validate(a, self); },
     "usage: velmor-host validate [--timeout SECONDS] PLUGIN...\n\n"
     "Checks each plug-in in a child process of its own, so a crash is reported:\n"
     "  exports      exactly GetFilterPluginTable, InitializePlugin, UninitializePlugin\n"
     "  descriptor   UTF-16 strings that decode, item and option lists that end,\n"
     "               option values 0 to n-1, defaults within their ranges\n"
     "  processing   rates 8000 to 192000 Hz, blocks of 0, 1, 2, 63, 441, 1470, 4096\n"
     "               and 48000 samples, every item at its minimum, maximum, default and\n"
     "               random values, two objects interleaved, frame jumps both ways:\n"
     "               the result, the call order, finite and bounded output\n"
     "  allocation   no call to the allocator inside ProcessAudio once an object has\n"
     "               had its first blocks and the block is no longer than one it saw\n\n"
     "  --timeout SECONDS  the time each check may take (default 30); a plug-in past\n"
     "                     it is killed and reported as TIMEOUT in that check\n\n"
     "Prints a table; exits with status 1 on any failure.\n",
     false},
    {"response", [](velmor::cli::Arguments& a, const char*) { return velmor::cli::Response(a); },
     "usage: velmor-host response PLUGIN --svg OUT.svg [options]\n\n"
     "The magnitude response, measured with steady sines at 240 log-spaced frequencies\n"
     "from 20 Hz to 0.49 times the rate: dB against log frequency. The sines are small\n"
     "(-80 dBFS), so the distortion shows its unclipped path.\n\n",
     true},
    {"gain", [](velmor::cli::Arguments& a, const char*) { return velmor::cli::Gain(a); },
     "usage: velmor-host gain PLUGIN --svg OUT.svg [--seconds S] [options]\n\n"
     "The gain over time: the output for an input of 1.0 on both channels (default\n"
     "1 second), as tremolos and ring modulators apply it.\n\n",
     true},
    {"impulse", [](velmor::cli::Arguments& a, const char*) { return velmor::cli::Impulse(a); },
     "usage: velmor-host impulse PLUGIN --svg OUT.svg [--channel 0|1|both] [--seconds S] [options]\n\n"
     "The impulse response: the output of each channel for a single sample of 1.0 at\n"
     "the start of channel 0 (default), channel 1 or both (default 2 seconds).\n\n",
     true},
    {"transfer", [](velmor::cli::Arguments& a, const char*) { return velmor::cli::Transfer(a); },
     "usage: velmor-host transfer PLUGIN --svg OUT.svg [--frequency HZ] [options]\n\n"
     "Output level against input level: a sine (default 1000 Hz) at -60 to 0 dBFS in\n"
     "1 dB steps, and the output's peak once settled.\n\n",
     true},
    {"pitch", [](velmor::cli::Arguments& a, const char*) { return velmor::cli::Pitch(a); },
     "usage: velmor-host pitch PLUGIN --svg OUT.svg [--frequency HZ] [--seconds S] [options]\n\n"
     "The pitch over time of a steady sine (default 440 Hz, 0.5 seconds) before and\n"
     "after the plug-in, from the time between successive upward zero crossings.\n\n",
     true},
    {"lag", [](velmor::cli::Arguments& a, const char*) { return velmor::cli::Lag(a); },
     "usage: velmor-host lag PLUGIN --svg OUT.svg [--seconds S] [options]\n\n"
     "The delay over time: a ramp comes out as itself, late by the plug-in's delay at\n"
     "that moment (default 0.05 seconds). For modulated delays such as FM.\n\n",
     true},
    {"signal", [](velmor::cli::Arguments& a, const char*) { return velmor::cli::Signal(a); },
     "usage: velmor-host signal OUT [--rate HZ] [--seconds S]\n\n"
     "Writes the built-in stereo demo signal (default 8 seconds at 44100 Hz): a\n"
     "chord, percussive hits and a sweep from 40 Hz to 16 kHz.\n",
     false},
};

const Command* FindCommand(const std::string& name) {
  for (const Command& c : kCommands)
    if (name == c.name) return &c;
  return nullptr;
}

// Letters to change, add or drop to make one word of the other.
size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The command a misspelt one most likely meant, or null.
const Command* Nearest(const std::string& name) {
  const Command* best = nullptr;
  size_t distance = 3;
  for (const Command& c : kCommands)
    if (const size_t d = EditDistance(name, c.name); d < distance) best = &c, distance = d;
  return best;
}

// "help" is no entry of kCommands, but it is a command a user may misspell.
const char* NearestName(const std::string& name) {
  const Command* meant = Nearest(name);
  const size_t toHelp = EditDistance(name, "help");
  if (toHelp < 3 && (meant == nullptr || toHelp < EditDistance(name, meant->name))) return "help";
  return meant ? meant->name : nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  if (!std::strcmp(argv[1], "--version")) {
    std::printf("velmor-host %s\n", VELMOR_VERSION_ASCII);
    return 0;
  }
  const std::string command = argv[1];
  if (command == "help") {
    // velmor-host help [COMMAND]: the usage, or a command's own.
    const Command* about = argc > 2 ? FindCommand(argv[2]) : nullptr;
    if (about == nullptr) {
      std::fputs(kUsage, stdout);
      return argc > 2 ? 2 : 0;
    }
    std::fputs(about->help, stdout);
    if (about->measures) std::fputs(kMeasureOptions, stdout);
    return 0;
  }
  const Command* found = FindCommand(command);
  if (found == nullptr) {
    const char* meant = NearestName(command);
    std::fprintf(stderr, "velmor-host: unknown command '%s'%s%s%s (see velmor-host --help)\n", command.c_str(),
                 meant ? "; did you mean '" : "", meant ? meant : "", meant ? "'?" : "");
    return 2;
  }
  velmor::cli::Arguments args(argc, argv, 2);
  if (args.HasHelp()) {
    std::fputs(found->help, stdout);
    if (found->measures) std::fputs(kMeasureOptions, stdout);
    return 0;
  }
  try {
    return found->run(args, argv[0]);
  } catch (const velmor::cli::Failure& failure) {
    std::fprintf(stderr, "velmor-host %s: %s\n", command.c_str(), failure.what());
    return failure.status;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velmor-host %s: %s\n", command.c_str(), e.what());
    return 1;
  }
}
