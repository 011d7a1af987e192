// A forked child that runs one action, reports whether it succeeded and then keeps whatever it
// holds (opens, locks) until released: the other process of the cross-process tests.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace lanqi::test {

class ChildProcess {
 public:
  explicit ChildProcess(const std::function<bool()>& action) {
    if (pipe(up_) != 0 || pipe(down_) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(up_[0]);
      close(down_[1]);
      bool ok = false;
      try {
        ok = action();
      } catch (...) {
      }
      char c = ok ? '1' : '0';
      if (write(up_[1], &c, 1) != 1) _exit(2);
      if (read(down_[0], &c, 1) < 0) _exit(2);
      _exit(0);
    }
    close(up_[1]);
    close(down_[0]);
  }
  ~ChildProcess() { Release(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Whether the child's action succeeded (waits for it to run).
  bool Succeeded() {
    char c = 0;
    return pid_ > 0 && read(up_[0], &c, 1) == 1 && c == '1';
  }
  // Lets the child exit, dropping what it holds.
  void Release() {
    if (pid_ <= 0) return;
    close(down_[1]);
    close(up_[0]);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  int up_[2] = {-1, -1};
  int down_[2] = {-1, -1};
  pid_t pid_ = -1;
};

}  // namespace lanqi::test
