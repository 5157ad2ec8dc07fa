#include "support/RunProgram.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

extern char** environ;

namespace ZantrelTest {

std::vector<std::string> ProgramRun::Lines() const {
  std::vector<std::string> lines;
  std::istringstream in(Out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

ProgramRun RunProgram(const std::vector<std::string>& args, const std::string& interruptAfter, int signal) {
  ProgramRun result;
  int out[2], err[2];
  if (args.empty() || pipe(out) != 0) return result;
  if (pipe(err) != 0) {
    close(out[0]);
    close(out[1]);
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, err[0]);
  std::vector<std::string> all = args;
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  // The program starts with the stop signals at their defaults, whatever
  // this process was started with: a test run in the background of a shell
  // (or under nohup) inherits them ignored, and the program keeps an
  // ignored signal ignored.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (const int stop : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&defaults, stop);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t pid;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  if (spawned != 0) {
    close(out[0]);
    close(err[0]);
    result.Status = 127;
    return result;
  }
  // Both pipes are read as they fill: a program that writes much to one
  // while the other is waited on would block for ever.
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* into[2] = {&result.Out, &result.Err};
  bool interrupted = interruptAfter.empty();
  for (int open = 2; open > 0;) {
    if (poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[65536];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        into[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
    if (!interrupted && result.Out.find(interruptAfter) != std::string::npos) {
      kill(pid, signal);
      interrupted = true;
    }
  }
  for (const pollfd& f : fds)
    if (f.fd >= 0) close(f.fd);
  int status = 0;
  waitpid(pid, &status, 0);
  result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

bool HaveProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path ? path : "");
  for (std::string folder; std::getline(folders, folder, ':');)
    if (!folder.empty() && access((folder + "/" + name).c_str(), X_OK) == 0) return true;
  return false;
}

std::vector<std::string> DecodedVideo(const std::string& path) {
  const auto run = RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:v", "-fps_mode",
                               "passthrough", "-f", "framemd5", "-"});
  std::vector<std::string> frames;
  for (const std::string& line : run.Lines())
    if (!line.empty() && line[0] != '#') frames.push_back(line);
  return frames;
}

}  // namespace ZantrelTest
