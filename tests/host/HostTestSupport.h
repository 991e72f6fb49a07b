// Helpers of the host tests: running programs, temporary folders, audio files.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace hosttest {

struct sRun {
  int status = -1;  // exit status; 128 + signal when killed
  std::string out;
  std::string err;
};

// Runs a program with its output captured (in files, so nothing blocks),
// in `directory` when given, with `environment` added to ours. A program
// still running after `timeoutSeconds` is killed.
sRun Run(const std::vector<std::string>& arguments, const std::filesystem::path& directory = {},
         const std::vector<std::string>& environment = {}, int timeoutSeconds = 120);

// A program running beside the test, its output in `log`, with `environment`
// added to ours and `passFd` (when given) as its descriptor 3; killed at the
// end if still running, by its own process ID.
class cBackground {
 public:
  cBackground(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
              const std::filesystem::path& log, const std::filesystem::path& directory = {}, int passFd = -1);
  ~cBackground() { Stop(SIGKILL, std::chrono::milliseconds(0)); }
  cBackground(const cBackground&) = delete;
  cBackground& operator=(const cBackground&) = delete;

  bool Running();
  // Waits `grace` for the program to end by itself; then signal, and after ten
  // seconds more SIGKILL. The exit status, 128 + signal when killed.
  int Stop(int signal, std::chrono::milliseconds grace = std::chrono::seconds(10));
  bool WaitFor(std::chrono::milliseconds time);

 private:
  pid_t m_Pid = -1;
  int m_Status = -1;
};

// An X server of the test's own: Xvfb, which takes a free display number and
// tells it (-displayfd), so tests on one machine never meet. Stopped at the end.
class cXServer {
 public:
  explicit cXServer(const std::filesystem::path& log, const std::string& screen = "1280x1024x24");
  ~cXServer();
  cXServer(const cXServer&) = delete;
  cXServer& operator=(const cXServer&) = delete;
  // ":N", or empty when the server did not come up (its log says why).
  const std::string& Display() const { return m_Display; }

 private:
  std::optional<cBackground> m_Server;
  std::string m_Display;
};

// A fresh folder, removed with everything in it at the end of the test.
class cTempDir {
 public:
  cTempDir();
  ~cTempDir();
  cTempDir(const cTempDir&) = delete;
  cTempDir& operator=(const cTempDir&) = delete;
  const std::filesystem::path& Path() const { return m_Path; }
  std::filesystem::path operator/(const std::string& name) const { return m_Path / name; }
  std::vector<std::string> Entries() const;  // file names, sorted

 private:
  std::filesystem::path m_Path;
};

struct sAudio {
  int channels = 0;
  int sampleRate = 0;
  int format = 0;             // libsndfile format of the file
  std::vector<float> samples; // interleaved
  int64_t Frames() const { return channels ? static_cast<int64_t>(samples.size()) / channels : 0; }
  float At(int64_t frame, int channel) const { return samples[static_cast<size_t>(frame * channels + channel)]; }
};

void WriteAudio(const std::filesystem::path& path, const sAudio& audio);
sAudio ReadAudio(const std::filesystem::path& path);

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& content);

// Test input: a stereo noise burst, a click on each side and silence.
sAudio TestSignal(int sampleRate, double seconds, int channels);

}  // namespace hosttest
