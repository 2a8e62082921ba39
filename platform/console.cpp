#include "platform/console.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vterm.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/tick.h"

namespace {

struct ConsoleHost {
  int Master = -1;
  int Slave = -1;
  VTerm* Term = nullptr;
  VTermScreen* Screen = nullptr;
  std::string Title;
};
ConsoleHost Host;

// 4 MiB per pump: far more than an encoder writes in a tick, small enough to keep the GUI live.
constexpr size_t PumpLimit = 4u << 20;

// The terminal's window size is what children see (stty size, TIOCGWINSZ); the monitor reads the
// screen model, whose size is set apart from it. False when the terminal refused the size.
bool SetWindowSize(int rows, int columns) {
  winsize size{};
  size.ws_row = static_cast<unsigned short>(rows);
  size.ws_col = static_cast<unsigned short>(columns);
  return ioctl(Host.Master, TIOCSWINSZ, &size) == 0;
}

bool OpenPseudoTerminal() {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) return false;
  char name[128];
  if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
    close(master);
    return false;
  }
  // The program itself never takes the terminal as its controlling terminal; only children do.
  const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) {
    close(master);
    return false;
  }
  // Every read of the master runs on the GUI thread and must find it non-blocking: a read that
  // waited for a child's output would freeze the window. Without that, no console at all.
  const int flags = fcntl(master, F_GETFL);
  if (flags < 0 || fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0) {
    close(slave);
    close(master);
    return false;
  }
  // Output processing stays on (a child's "\n" arrives as "\r\n", as on a console); nothing is
  // ever typed, and echo is off so that nothing written to the master comes back as output.
  // Should the mode not take, the console is still usable, so it is not a reason to fail: a new
  // pseudo-terminal already has output processing on, and this program never writes to the
  // master (SyncConsole writes its marker to the slave), so echo has nothing to bring back.
  termios mode{};
  if (tcgetattr(slave, &mode) == 0) {
    mode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
    mode.c_oflag |= OPOST | ONLCR;
    (void)tcsetattr(slave, TCSANOW, &mode);
  }
  // The program keeps the slave open as well, so that the terminal outlives each child and a
  // read of the master never sees the hang-up of the last writer.
  Host.Master = master;
  Host.Slave = slave;
  return true;
}

char CellCharacter(const VTermScreenCell& cell) {
  const uint32_t c = cell.chars[0];
  if (c == 0) return ' ';
  if (c < 0x20 || c > 0x7e) return '?';
  return static_cast<char>(c);
}

}  // namespace

bool OpenConsole() {
  if (Host.Term != nullptr) return true;
  if (!OpenPseudoTerminal()) return false;
  Host.Term = vterm_new(ConsoleRows, ConsoleColumns);
  if (Host.Term == nullptr) {
    close(Host.Master);
    close(Host.Slave);
    Host.Master = Host.Slave = -1;
    return false;
  }
  vterm_set_utf8(Host.Term, 1);
  Host.Screen = vterm_obtain_screen(Host.Term);
  vterm_screen_reset(Host.Screen, 1);
  // Not fatal: the monitor reads the screen model, which has its size; a child would only see a
  // terminal of no size, and tompg's progress line does not depend on it.
  (void)SetWindowSize(ConsoleRows, ConsoleColumns);
  return true;
}

int ConsoleSlaveFd() { return Host.Slave; }
int ConsoleMasterFd() { return Host.Master; }

void SetConsoleTitle(const char* title) { Host.Title = title; }
const std::string& ConsoleTitleText() { return Host.Title; }

size_t PumpConsole() {
  if (Host.Term == nullptr) return 0;
  char buffer[16384];
  size_t taken = 0;
  while (taken < PumpLimit) {
    const ssize_t n = read(Host.Master, buffer, sizeof buffer);
    if (n > 0) {
      vterm_input_write(Host.Term, buffer, static_cast<size_t>(n));
      taken += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;  // EAGAIN: all read; EIO cannot happen while the program holds the slave
  }
  return taken;
}

bool SyncConsole(int timeoutMs) {
  if (Host.Term == nullptr) return false;
  // A marker written to the terminal now reaches the reading side after everything written
  // before it. It is an operating-system command that the screen model ignores, so the screen
  // stays as the children left it.
  static const char Marker[] = "\x1b]7381;sonivert-sync\x07";
  constexpr size_t MarkerLength = sizeof Marker - 1;
  ssize_t written;
  do written = write(Host.Slave, Marker, MarkerLength);
  while (written < 0 && errno == EINTR);
  if (written != static_cast<ssize_t>(MarkerLength)) return false;
  const uint32_t start = GetTickCount();
  size_t matched = 0;  // marker characters seen in a row; ESC occurs only at its start
  char buffer[16384];
  for (;;) {
    const ssize_t n = read(Host.Master, buffer, sizeof buffer);
    if (n > 0) {
      vterm_input_write(Host.Term, buffer, static_cast<size_t>(n));
      for (ssize_t i = 0; i < n; ++i) {
        if (buffer[i] == Marker[matched]) {
          if (++matched == MarkerLength) return true;
        } else {
          matched = buffer[i] == Marker[0] ? 1 : 0;
        }
      }
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return false;
    const int left = MillisecondsLeft(start, timeoutMs);
    if (left == 0) return false;
    pollfd in{Host.Master, POLLIN, 0};
    poll(&in, 1, left);
  }
}

bool ReadConsoleCells(int row, int column, int count, char* out) {
  if (Host.Term == nullptr || count < 0) return false;
  int rows = 0, columns = 0;
  vterm_get_size(Host.Term, &rows, &columns);
  if (row < 0 || row >= rows || column < 0 || column > columns - count) return false;
  for (int i = 0; i < count; ++i) {
    VTermScreenCell cell{};
    if (vterm_screen_get_cell(Host.Screen, VTermPos{row, column + i}, &cell) == 0) return false;
    out[i] = CellCharacter(cell);
  }
  return true;
}

void WriteConsole(const char* text) {
  if (Host.Term == nullptr) return;
  // The same translation the terminal applies to a child's output: LF becomes CR LF.
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '\n')
      vterm_input_write(Host.Term, "\r\n", 2);
    else
      vterm_input_write(Host.Term, p, 1);
  }
}

void ClearConsole() {
  if (Host.Term == nullptr) return;
  int rows = 0, columns = 0;
  vterm_get_size(Host.Term, &rows, &columns);
  char sequence[32];
  // Erase the display, then cursor to row `rows`, column 1 (the sequence counts from 1).
  const int n = std::snprintf(sequence, sizeof sequence, "\x1b[2J\x1b[%d;1H", rows);
  vterm_input_write(Host.Term, sequence, static_cast<size_t>(n));
}

bool GetConsoleSize(int& rows, int& columns) {
  if (Host.Term == nullptr) return false;
  vterm_get_size(Host.Term, &rows, &columns);
  return true;
}

bool SetConsoleSize(int rows, int columns) {
  if (Host.Term == nullptr || rows < 1 || columns < 1 || rows > 1000 || columns > 1000) return false;
  vterm_set_size(Host.Term, rows, columns);
  return SetWindowSize(rows, columns);
}
