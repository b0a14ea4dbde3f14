// Runs the built kezthumb program as a user would: its own process, chosen
// arguments and environment, stdout and stderr captured (stderr optionally on
// a pseudo-terminal of a given width).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kez::testing {

struct ToolRun {
  int status = -1;  // exit status; 128 + signal when killed
  std::string out;
  std::string err;
};

struct ToolOptions {
  // Variables to set (a value) or remove (nullopt); the rest is inherited.
  std::map<std::string, std::optional<std::string>> env;
  bool stderrOnTerminal = false;
  unsigned short columns = 80;
  std::string workingDirectory;  // empty: the test's own
};

inline void DrainInto(int fd, std::string* sink) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    sink->append(buffer, static_cast<std::size_t>(n));
  }
}

inline ToolRun RunKezthumb(const std::vector<std::string>& args, const ToolOptions& options = {}) {
  ToolRun run;
  // Everything the child needs is built before fork: after it, only
  // async-signal-safe calls.
  std::vector<std::string> argStrings = {KEZTHUMB_BINARY};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::map<std::string, std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const auto eq = entry.find('=');
    if (eq != std::string::npos) environment[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [name, value] : options.env) {
    if (value) environment[name] = *value;
    else environment.erase(name);
  }
  std::vector<std::string> envStrings;
  for (const auto& [name, value] : environment) envStrings.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);

  int outPipe[2], errPipe[2] = {-1, -1};
  if (pipe(outPipe) != 0) return run;
  int master = -1, slave = -1;
  if (options.stderrOnTerminal) {
    struct winsize size {};
    size.ws_col = options.columns;
    size.ws_row = 24;
    if (openpty(&master, &slave, nullptr, nullptr, &size) != 0) return run;
  } else if (pipe(errPipe) != 0) {
    return run;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(outPipe[1], 1);
    dup2(options.stderrOnTerminal ? slave : errPipe[1], 2);
    const int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0) _exit(126);
    for (int fd = 3; fd < 256; ++fd) close(fd);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(outPipe[1]);
  int errRead = errPipe[0];
  if (options.stderrOnTerminal) {
    close(slave);
    errRead = master;
  } else {
    close(errPipe[1]);
  }
  // Both streams are drained while the child runs, so neither can fill up.
  struct pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errRead, POLLIN, 0}};
  int open = 2;
  while (open > 0) {
    if (poll(fds, 2, 1000) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? run.out : run.err).append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {  // end, or EIO once the terminal's last writer is gone
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

}  // namespace kez::testing
