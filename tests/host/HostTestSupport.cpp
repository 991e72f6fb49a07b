#include "HostTestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace hosttest {

using namespace std::chrono_literals;

cBackground::cBackground(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                         const std::filesystem::path& log, const std::filesystem::path& directory, int passFd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  if (passFd >= 0) posix_spawn_file_actions_adddup2(&actions, passFd, 3);
  if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  std::vector<char*> argv, envp;
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> variables = environment;
  for (char** e = environ; *e; ++e) variables.emplace_back(*e);  // the added ones first: they win
  for (const std::string& v : variables) envp.push_back(const_cast<char*>(v.c_str()));
  envp.push_back(nullptr);
  if (posix_spawn(&m_Pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) m_Pid = -1;
  posix_spawn_file_actions_destroy(&actions);
}

bool cBackground::Running() {
  if (m_Pid <= 0) return false;
  int status = 0;
  if (waitpid(m_Pid, &status, WNOHANG) != m_Pid) return true;
  m_Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  m_Pid = -1;
  return false;
}

int cBackground::Stop(int signal, std::chrono::milliseconds grace) {
  if (!Running()) return m_Status;
  if (grace > 0s && WaitFor(grace)) return m_Status;
  kill(m_Pid, signal);
  if (WaitFor(10s)) return m_Status;
  kill(m_Pid, SIGKILL);
  WaitFor(10s);
  return m_Status;
}

bool cBackground::WaitFor(std::chrono::milliseconds time) {
  for (const auto end = std::chrono::steady_clock::now() + time; std::chrono::steady_clock::now() < end;) {
    if (!Running()) return true;
    std::this_thread::sleep_for(20ms);
  }
  return !Running();
}

cXServer::cXServer(const std::filesystem::path& log, const std::string& screen) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  m_Server.emplace(std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", "3", "-screen", "0", screen, "-nolisten",
                                            "tcp"},
                   std::vector<std::string>{}, log, std::filesystem::path(), fds[1]);
  close(fds[1]);
  std::string number;
  pollfd p = {fds[0], POLLIN, 0};
  char c;
  while (poll(&p, 1, 10000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  if (!number.empty()) m_Display = ":" + number;
}

cXServer::~cXServer() {
  if (m_Server) m_Server->Stop(SIGTERM, 0s);
}

sRun Run(const std::vector<std::string>& arguments, const std::filesystem::path& directory,
         const std::vector<std::string>& environment, int timeoutSeconds) {
  cTempDir capture;
  const std::string outPath = (capture / "out").string();
  const std::string errPath = (capture / "err").string();

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());

  std::vector<char*> argv;
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> variables = environment;
  for (char** e = environ; *e; ++e) variables.emplace_back(*e);  // ours after: the added ones win
  std::vector<char*> envp;
  for (const std::string& v : variables) envp.push_back(const_cast<char*>(v.c_str()));
  envp.push_back(nullptr);

  sRun result;
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    result.err = "cannot start " + arguments[0];
    return result;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = ReadFile(outPath);
  result.err = ReadFile(errPath);
  return result;
}

cTempDir::cTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "nimbohall-host-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
  m_Path = pattern;
}

cTempDir::~cTempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_Path, ignored);
}

std::vector<std::string> cTempDir::Entries() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(m_Path)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

void WriteAudio(const std::filesystem::path& path, const sAudio& audio) {
  SF_INFO info{};
  info.channels = audio.channels;
  info.samplerate = audio.sampleRate;
  info.format = audio.format ? audio.format : SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!file) throw std::runtime_error("cannot write " + path.string() + ": " + sf_strerror(nullptr));
  sf_writef_float(file, audio.samples.data(), audio.Frames());
  sf_close(file);
}

sAudio ReadAudio(const std::filesystem::path& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (!file) throw std::runtime_error("cannot read " + path.string() + ": " + sf_strerror(nullptr));
  sAudio audio;
  audio.channels = info.channels;
  audio.sampleRate = info.samplerate;
  audio.format = info.format;
  audio.samples.resize(static_cast<size_t>(info.frames * info.channels));
  const sf_count_t read = sf_readf_float(file, audio.samples.data(), info.frames);
  audio.samples.resize(static_cast<size_t>(read * info.channels));
  sf_close(file);
  return audio;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

sAudio TestSignal(int sampleRate, double seconds, int channels) {
  sAudio audio;
  audio.channels = channels;
  audio.sampleRate = sampleRate;
  const auto frames = static_cast<int64_t>(seconds * sampleRate);
  audio.samples.assign(static_cast<size_t>(frames * channels), 0.0f);
  uint32_t seed = 987654321u;
  const int64_t burst = std::min<int64_t>(frames, sampleRate / 20);
  for (int64_t i = 0; i < burst * channels; ++i) {
    seed = seed * 1664525u + 1013904223u;
    audio.samples[static_cast<size_t>(i)] = 0.4f * (static_cast<float>(seed >> 8) / 16777216.0f - 0.5f);
  }
  for (int c = 0; c < channels; ++c) {
    const int64_t click = frames / 3 + c * (sampleRate / 100);
    if (click < frames) audio.samples[static_cast<size_t>(click * channels + c)] = 0.9f;
  }
  return audio;
}

}  // namespace hosttest
