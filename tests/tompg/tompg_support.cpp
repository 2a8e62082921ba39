#include "tests/tompg/tompg_support.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vterm.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {

size_t CountOf(const std::string& text, const char* what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

double NowSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
}

}  // namespace

RunResult RunTompg(const std::vector<std::string>& args, const RunOptions& options) {
  RunResult result;
  int master = -1;
  int slave = -1;
  winsize size{};
  size.ws_row = 2;
  size.ws_col = 80;
  if (openpty(&master, &slave, nullptr, nullptr, &size) != 0) return result;
  pid_t pid = fork();
  if (pid == 0) {
    setsid();
    int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    dup2(slave, 1);
    dup2(slave, 2);
    close(master);
    close(slave);
    if (options.fileSizeLimit > 0) {
      rlimit limit{static_cast<rlim_t>(options.fileSizeLimit), static_cast<rlim_t>(options.fileSizeLimit)};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(TOMPG_PROGRAM));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(TOMPG_PROGRAM, argv.data());
    _exit(127);
  }
  close(slave);
  const double deadline = NowSeconds() + 90;
  bool stopped = false;
  bool reaped = false;
  int status = 0;
  for (;;) {
    pollfd p{master, POLLIN, 0};
    int ready = poll(&p, 1, 20);
    if (ready > 0) {
      char buffer[4096];
      ssize_t n = read(master, buffer, sizeof buffer);
      if (n > 0)
        result.raw.append(buffer, static_cast<size_t>(n));
      else if (n < 0 && errno == EINTR)
        continue;
      else
        break;  // EIO: every writer of the terminal is gone
    }
    // The stop comes after the second progress line: the encoding is under way.
    if (options.stopAndContinue && !stopped && CountOf(result.raw, "\r frames ") >= 2) {
      kill(pid, SIGSTOP);
      // The stop is confirmed by the kernel before the process goes on.
      int st = 0;
      while (NowSeconds() < deadline) {
        pid_t got = waitpid(pid, &st, WUNTRACED | WNOHANG);
        if (got == pid && WIFSTOPPED(st)) {
          result.stoppedSeen = true;
          break;
        }
        if (got == pid) {  // ended before the stop arrived
          reaped = true;
          status = st;
          break;
        }
        poll(nullptr, 0, 1);
      }
      kill(pid, SIGCONT);
      stopped = true;
    }
    if (options.endSignal && !stopped && CountOf(result.raw, "\r frames ") >= 2) {
      kill(pid, options.endSignal);
      stopped = true;
    }
    if (NowSeconds() > deadline) {
      kill(pid, SIGKILL);
      break;
    }
  }
  close(master);
  if (!reaped)
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  result.exited = WIFEXITED(status);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;

  // The screen as the host sees it: 80 x 2, the cursor first put on the bottom row.
  VTerm* vt = vterm_new(2, 80);
  vterm_set_utf8(vt, 1);
  VTermScreen* screen = vterm_obtain_screen(vt);
  vterm_screen_reset(screen, 1);
  vterm_input_write(vt, "\r\n", 2);
  if (!options.screenBefore.empty())
    vterm_input_write(vt, options.screenBefore.data(), options.screenBefore.size());
  vterm_input_write(vt, result.raw.data(), result.raw.size());
  for (int row = 0; row < 2; ++row) {
    std::string text;
    for (int col = 0; col < 80; ++col) {
      VTermScreenCell cell{};
      vterm_screen_get_cell(screen, VTermPos{row, col}, &cell);
      uint32_t ch = cell.chars[0];
      text += ch == 0 ? ' ' : ch < 128 ? static_cast<char>(ch) : '?';
    }
    result.rows[row] = text;
  }
  vterm_free(vt);
  return result;
}

bool ParseProgressRow(const std::string& row, uint32_t& frames, uint32_t& bytesIn, uint32_t& bytesOut) {
  if (row.size() < 2 || row[0] != ' ') return false;
  unsigned f = 0, i = 0, o = 0;
  int end = 0;
  if (std::sscanf(row.c_str() + 1, "frames %u bytes in %u bytes out %u%n", &f, &i, &o, &end) != 3)
    return false;
  // Only blanks after the line.
  if (row.find_first_not_of(' ', 1 + static_cast<size_t>(end)) != std::string::npos) return false;
  // Exact separators: one blank each, as the host's pattern is written.
  char again[96];
  std::snprintf(again, sizeof again, "frames %u bytes in %u bytes out %u", f, i, o);
  if (row.compare(1, std::strlen(again), again) != 0) return false;
  frames = f;
  bytesIn = i;
  bytesOut = o;
  return true;
}

// Layer III by our own decoder, which honours the information frame's delay and padding as
// mpg123 does; Layers I and II by mpg123.
Pcm Decode(const std::string& mpegPath, int layer, const std::string& scratchWav) {
  Pcm pcm;
  const std::string ours = std::string(TOMPG_BIN_DIR) + "/sonivert-decode";
  const bool decoded = layer == 3 && FileExists(ours)
                           ? RunQuiet({ours, mpegPath, scratchWav}) == 0 && ReadWav16(scratchWav, pcm)
                           : DecodeFileWithMpg123(mpegPath, scratchWav, pcm);
  if (!decoded) return Pcm{};
  return pcm;
}

Pcm ReadAsFloat(const std::string& path, int rate, int channels, const std::string& raw) {
  const bool mpeg = path.ends_with(".mp3");
  const std::string command =
      mpeg ? "mpg123 -q -e f32 -s '" + path + "' > '" + raw + "'" : "sox '" + path + "' -t f32 '" + raw + "'";
  const std::vector<uint8_t> bytes =
      RunQuiet({"sh", "-c", command}) == 0 ? ReadFileBytes(raw) : std::vector<uint8_t>();
  Pcm pcm{rate, channels, static_cast<long>(bytes.size() / 4 / static_cast<size_t>(channels)), {}};
  pcm.samples.resize(static_cast<size_t>(pcm.frames * channels));
  std::memcpy(pcm.samples.data(), bytes.data(), pcm.samples.size() * 4);
  return pcm;
}

ToneFit FitTones(const Pcm& pcm, int channel, const std::vector<double>& freqs, long from, long to) {
  // Least squares: x[i] ~ sum over tones of c_k cos(w_k i) + s_k sin(w_k i).
  const int n = static_cast<int>(freqs.size()) * 2;
  std::vector<double> a(static_cast<size_t>(n * (n + 1)), 0.0);  // normal equations, augmented
  std::vector<double> basis(static_cast<size_t>(n));
  double total = 0;
  for (long i = from; i < to; ++i) {
    double x = pcm.samples[static_cast<size_t>(i * pcm.channels + channel)];
    total += x * x;
    for (size_t k = 0; k < freqs.size(); ++k) {
      double ph = 2 * M_PI * freqs[k] * i / pcm.rate;
      basis[2 * k] = std::cos(ph);
      basis[2 * k + 1] = std::sin(ph);
    }
    for (int r = 0; r < n; ++r) {
      for (int c = 0; c < n; ++c)
        a[static_cast<size_t>(r * (n + 1) + c)] +=
            basis[static_cast<size_t>(r)] * basis[static_cast<size_t>(c)];
      a[static_cast<size_t>(r * (n + 1) + n)] += basis[static_cast<size_t>(r)] * x;
    }
  }
  for (int col = 0; col < n; ++col) {  // Gauss-Jordan; the matrix is well conditioned
    double pivot = a[static_cast<size_t>(col * (n + 1) + col)];
    for (int c = 0; c <= n; ++c) a[static_cast<size_t>(col * (n + 1) + c)] /= pivot;
    for (int r = 0; r < n; ++r) {
      if (r == col) continue;
      double f = a[static_cast<size_t>(r * (n + 1) + col)];
      for (int c = 0; c <= n; ++c)
        a[static_cast<size_t>(r * (n + 1) + c)] -= f * a[static_cast<size_t>(col * (n + 1) + c)];
    }
  }
  ToneFit fit;
  std::vector<double> coef(static_cast<size_t>(n));
  for (int r = 0; r < n; ++r) coef[static_cast<size_t>(r)] = a[static_cast<size_t>(r * (n + 1) + n)];
  for (size_t k = 0; k < freqs.size(); ++k)
    fit.amplitudes.push_back(std::hypot(coef[2 * k], coef[2 * k + 1]));
  double residual = 0;
  for (long i = from; i < to; ++i) {
    double y = pcm.samples[static_cast<size_t>(i * pcm.channels + channel)];
    for (size_t k = 0; k < freqs.size(); ++k) {
      double ph = 2 * M_PI * freqs[k] * i / pcm.rate;
      y -= coef[2 * k] * std::cos(ph) + coef[2 * k + 1] * std::sin(ph);
    }
    residual += y * y;
  }
  const double count = static_cast<double>(to - from);
  fit.residualRms = std::sqrt(residual / count);
  fit.totalRms = std::sqrt(total / count);
  return fit;
}

double AlignedSnr(const Pcm& source, const Pcm& decoded, int channel, long maxLag) {
  auto s = [&](long i) { return source.samples[static_cast<size_t>(i * source.channels + channel)]; };
  auto d = [&](long i) { return decoded.samples[static_cast<size_t>(i * decoded.channels + channel)]; };
  const long edge = source.rate / 10;
  const long end = std::min(source.frames, decoded.frames - maxLag) - edge;
  if (end - edge < 1024) return -100;
  long bestLag = 0;
  double best = -1e300;
  const long probe = std::min<long>(8192, end - edge);
  for (long lag = 0; lag <= maxLag; ++lag) {
    double c = 0;
    for (long i = edge; i < edge + probe; ++i) c += s(i) * d(i + lag);
    if (c > best) {
      best = c;
      bestLag = lag;
    }
  }
  double sig = 0, noise = 0;
  for (long i = edge; i < end; ++i) {
    double e = s(i) - d(i + bestLag);
    sig += s(i) * s(i);
    noise += e * e;
  }
  return 10 * std::log10(sig / std::max(noise, 1e-30));
}

FrameHeader ParseHeader(const uint8_t* b) {
  FrameHeader h;
  if (b[0] != 0xFF || (b[1] & 0xF0) != 0xF0) return h;
  h.id = (b[1] >> 3) & 1;
  int layerBits = (b[1] >> 1) & 3;
  if (layerBits == 0) return h;
  h.layer = 4 - layerBits;
  const int bitrateIndex = b[2] >> 4;
  const int sampleIndex = (b[2] >> 2) & 3;
  h.bitrateKbps = StandardBitrate(h.id, h.layer, bitrateIndex);
  h.sampleRate = StandardSampleRate(h.id, sampleIndex);
  h.mode = b[3] >> 6;
  h.length = StandardFrameBytes(h.id, h.layer, bitrateIndex, sampleIndex, (b[2] >> 1) & 1);
  h.valid = h.length != 0;
  return h;
}

FrameHeader ReadFirstHeader(const std::string& path) {
  std::vector<uint8_t> b = ReadFileBytes(path);
  return b.size() < 4 ? FrameHeader{} : ParseHeader(b.data());
}

std::vector<FrameHeader> ReadFrames(const std::string& path, bool& endsAtEof) {
  std::vector<FrameHeader> frames;
  std::vector<uint8_t> b = ReadFileBytes(path);
  size_t pos = 0;
  while (pos + 4 <= b.size()) {
    FrameHeader h = ParseHeader(&b[pos]);
    if (!h.valid) break;
    frames.push_back(h);
    pos += static_cast<size_t>(h.length);
  }
  endsAtEof = pos == b.size();
  return frames;
}
