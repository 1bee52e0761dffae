// A pseudo-terminal pair joined by socat, for serial tests with a real tty on each end.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

class PtyPair {
 public:
  PtyPair() {
    int err[2];
    if (pipe(err) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(err[1], 2);
      close(err[0]);
      close(err[1]);
      execlp("socat", "socat", "-d", "-d", "pty,raw,echo=0", "pty,raw,echo=0", nullptr);
      _exit(127);
    }
    close(err[1]);
    // socat reports each end as "... PTY is /dev/pts/N" before it starts relaying.
    std::string text;
    while (second_.empty()) {
      pollfd p{err[0], POLLIN, 0};
      if (poll(&p, 1, 5000) != 1) break;
      char buf[512];
      const ssize_t n = read(err[0], buf, sizeof(buf));
      if (n <= 0) break;
      text.append(buf, static_cast<size_t>(n));
      ParsePaths(text);
    }
    close(err[0]);
  }
  ~PtyPair() { Stop(); }

  bool Ok() const { return !second_.empty(); }
  const std::string& First() const { return first_; }
  const std::string& Second() const { return second_; }

  // Ends socat: both terminals go away.
  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }

 private:
  void ParsePaths(const std::string& text) {
    first_.clear();
    second_.clear();
    size_t at = 0;
    while ((at = text.find("PTY is ", at)) != std::string::npos) {
      at += 7;
      const size_t end = text.find('\n', at);
      if (end == std::string::npos) return;
      (first_.empty() ? first_ : second_) = text.substr(at, end - at);
    }
  }

  pid_t pid_ = -1;
  std::string first_, second_;
};
