// kvq-bridge: runs a command (QEMU with the firmware console on its stdio)
// and connects it to the user's xterm-compatible terminal, translating keys
// into the PC-ANSI sequences the firmware's serial terminal driver decodes.
//
//   kvq-bridge -- qemu-system-x86_64 ... -serial mon:stdio ...
//
// Without it an xterm's F5 (ESC [ 1 5 ~) reaches the firmware as Esc, '[',
// '1', '5', '~', and Home, End, Delete and F1-F10 are misread likewise.
//
// The child's output is copied to stdout unchanged. Keys are decoded from
// stdin (put in raw mode when it is a terminal); each known key is sent in
// its PC-ANSI form, control characters as themselves (Ctrl-A X still quits
// QEMU), unknown escape sequences are dropped. A lone ESC is sent once no
// other byte has followed it for 50 ms. When the child exits, so does the
// bridge, with the child's status (128 + signal number if it was killed).
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "platform/host/raw_terminal.h"
#include "platform/host/xterm_keys.h"

namespace {

constexpr int kEscTimeoutMs = 50;

volatile pid_t g_child = -1;

void forward_signal(int sig) {
  if (g_child > 0) kill(g_child, sig == SIGINT ? SIGTERM : sig);
}

int64_t now_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Writes everything to a blocking fd. False if the fd is gone.
bool write_all(int fd, const uint8_t* data, size_t len) {
  while (len > 0) {
    const ssize_t n = write(fd, data, len);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

void usage() {
  fprintf(stderr,
          "usage: kvq-bridge -- COMMAND [ARGS...]\n"
          "Runs COMMAND with its stdin/stdout on pipes, copies its output to\n"
          "stdout, and sends the keys typed on this terminal to it as the\n"
          "PC-ANSI sequences UEFI firmware decodes on a serial console.\n");
}

class Bridge {
 public:
  Bridge(int child_in, int child_out) : child_in_(child_in), child_out_(child_out) {}

  // Runs until the child closes its output.
  void run() {
    uint8_t buf[65536];
    while (true) {
      struct pollfd fds[3];
      int nfds = 0;
      const int out_i = nfds;
      fds[nfds++] = {child_out_, POLLIN, 0};
      int in_i = -1;
      if (!stdin_eof_) {
        in_i = nfds;
        fds[nfds++] = {STDIN_FILENO, POLLIN, 0};
      }
      int to_child_i = -1;
      if (!to_child_.empty() && child_in_ >= 0) {
        to_child_i = nfds;
        fds[nfds++] = {child_in_, POLLOUT, 0};
      }
      int timeout = -1;
      if (decoder_.pending()) {
        const int64_t left = last_input_ms_ + kEscTimeoutMs - now_ms();
        timeout = left > 0 ? static_cast<int>(left) : 0;
      }
      const int r = poll(fds, static_cast<nfds_t>(nfds), timeout);
      if (r < 0) {
        if (errno == EINTR) continue;
        perror("kvq-bridge: poll");
        break;
      }
      if (r == 0 || (decoder_.pending() && now_ms() - last_input_ms_ >= kEscTimeoutMs)) {
        decoder_.timeout();
        queue_keys();
      }
      if (fds[out_i].revents != 0) {
        const ssize_t n = read(child_out_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // the child is gone (or closed its output)
        // A vanished stdout is no reason to stop the child; just drop.
        write_all(STDOUT_FILENO, buf, static_cast<size_t>(n));
      }
      if (in_i >= 0 && fds[in_i].revents != 0) {
        const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
        if (n > 0) {
          decoder_.feed(buf, static_cast<size_t>(n));
          last_input_ms_ = now_ms();
          queue_keys();
        } else if (n == 0 || errno != EINTR) {
          stdin_eof_ = true;
          decoder_.timeout();
          queue_keys();
        }
      }
      if (to_child_i >= 0 && fds[to_child_i].revents != 0) flush_to_child();
      if (stdin_eof_ && to_child_.empty() && child_in_ >= 0) {
        close(child_in_);  // pass the end of input on
        child_in_ = -1;
      }
    }
    if (child_in_ >= 0) close(child_in_);
    child_in_ = -1;
  }

 private:
  void queue_keys() {
    kvq::Key key;
    while (decoder_.pop(&key)) {
      uint8_t bytes[8];
      const int n = kvq::host::encode_pc_ansi(key, bytes);
      to_child_.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(n));
    }
    flush_to_child();
  }

  // The child's stdin is non-blocking: QEMU reads only as fast as the guest
  // drains its UART, and a blocked write here would stop the output copy.
  void flush_to_child() {
    while (!to_child_.empty() && child_in_ >= 0) {
      const ssize_t n = write(child_in_, to_child_.data(), to_child_.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return;
        to_child_.clear();  // the child closed its input
        close(child_in_);
        child_in_ = -1;
        return;
      }
      to_child_.erase(0, static_cast<size_t>(n));
    }
  }

  int child_in_;
  int child_out_;
  bool stdin_eof_ = false;
  int64_t last_input_ms_ = 0;
  std::string to_child_;
  kvq::host::XtermKeyDecoder decoder_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || strcmp(argv[1], "--") != 0) {
    usage();
    return 2;
  }
  int in_pipe[2];
  int out_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0) {
    perror("kvq-bridge: pipe");
    return 1;
  }
  int status = 0;
  {
    kvq::host::RawTerminal raw(STDIN_FILENO);
    kvq::host::RawTerminal::set_signal_hook(forward_signal);

    const pid_t pid = fork();
    if (pid < 0) {
      perror("kvq-bridge: fork");
      return 1;
    }
    if (pid == 0) {
      dup2(in_pipe[0], STDIN_FILENO);
      dup2(out_pipe[1], STDOUT_FILENO);
      execvp(argv[2], argv + 2);
      fprintf(stderr, "kvq-bridge: cannot run %s: %s\r\n", argv[2], strerror(errno));
      _exit(127);
    }
    g_child = pid;
    signal(SIGPIPE, SIG_IGN);
    close(in_pipe[0]);
    close(out_pipe[1]);
    fcntl(in_pipe[1], F_SETFL, fcntl(in_pipe[1], F_GETFL) | O_NONBLOCK);

    Bridge bridge(in_pipe[1], out_pipe[0]);
    bridge.run();
    close(out_pipe[0]);

    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    g_child = -1;
  }  // the terminal is restored here
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 1;
}
