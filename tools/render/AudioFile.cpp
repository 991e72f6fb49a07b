#include "AudioFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <vector>

#include "RenderError.h"
#include "RenderText.h"

namespace nimborender {

namespace {

std::string SndfileError(SNDFILE* file) { return Trim(sf_strerror(file)); }

// The temporary file of the render in progress, for the signal handler.
char gTempPath[4096];
volatile std::sig_atomic_t gTempPathSet = 0;

extern "C" void RemoveTempAndDie(int signal) {
  if (gTempPathSet) unlink(gTempPath);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

void ProtectTemp(const std::string& path) {
  if (path.size() >= sizeof gTempPath) return;
  std::memcpy(gTempPath, path.c_str(), path.size() + 1);
  gTempPathSet = 1;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, RemoveTempAndDie);
}

void UnprotectTemp() {
  gTempPathSet = 0;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, SIG_DFL);
}

void Grow(float*& buffer, int64_t& capacity, int64_t samples) {
  if (samples <= capacity) return;
  delete[] buffer;
  buffer = new float[static_cast<size_t>(samples)];
  capacity = samples;
}

}  // namespace

cInputFile::cInputFile(const std::string& path) : m_Path(path) {
  // Tell a file that cannot be read at all from one libsndfile does not understand.
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) throw cRenderError(kExitFile, "cannot read input '" + path + "': " + std::strerror(errno));
  struct stat status {};
  const bool isDirectory = fstat(fd, &status) == 0 && S_ISDIR(status.st_mode);
  close(fd);
  if (isDirectory) throw cRenderError(kExitFile, "cannot read input '" + path + "': it is a directory");

  m_File = sf_open(path.c_str(), SFM_READ, &m_Info);
  if (!m_File) throw cRenderError(kExitFile, "unsupported input format '" + path + "': " + SndfileError(nullptr));
  if (m_Info.channels < 1 || m_Info.channels > 2) {
    const std::string channels = std::to_string(m_Info.channels);
    sf_close(m_File);
    m_File = nullptr;
    throw cRenderError(kExitFile, "unsupported input format '" + path + "': " + channels +
                                      " channels (mono or stereo needed)");
  }
  if (m_Info.samplerate <= 0) {
    sf_close(m_File);
    m_File = nullptr;
    throw cRenderError(kExitFile, "unsupported input format '" + path + "': no sample rate");
  }
}

cInputFile::~cInputFile() {
  if (m_File) sf_close(m_File);
  delete[] m_Interleaved;
}

int64_t cInputFile::Read(float* left, float* right, int64_t frames) {
  const int channels = m_Info.channels;
  Grow(m_Interleaved, m_Capacity, frames * channels);
  const sf_count_t read = sf_readf_float(m_File, m_Interleaved, frames);
  if (read < 0) throw cRenderError(kExitFile, "cannot read input '" + m_Path + "': " + SndfileError(m_File));
  if (read < frames && sf_error(m_File) != SF_ERR_NO_ERROR) {
    throw cRenderError(kExitFile, "cannot read input '" + m_Path + "': " + SndfileError(m_File));
  }
  for (sf_count_t i = 0; i < read; ++i) {
    left[i] = m_Interleaved[i * channels];
    right[i] = m_Interleaved[i * channels + channels - 1];
  }
  return read;
}

int OutputFormatFor(const std::string& path) {
  struct sKind {
    const char* extension;
    int format;
  };
  static const std::array<sKind, 13> kKinds = {{
      {".wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
      {".wave", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
      {".flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
      {".aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_24},
      {".aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24},
      {".aifc", SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
      {".ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
      {".oga", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
      {".opus", SF_FORMAT_OGG | SF_FORMAT_OPUS},
      {".caf", SF_FORMAT_CAF | SF_FORMAT_FLOAT},
      {".w64", SF_FORMAT_W64 | SF_FORMAT_FLOAT},
      {".rf64", SF_FORMAT_RF64 | SF_FORMAT_FLOAT},
      {".au", SF_FORMAT_AU | SF_FORMAT_FLOAT},
  }};
  const std::string extension = ToLower(std::filesystem::path(path).extension().string());
  std::string known;
  for (const sKind& kind : kKinds) {
    SF_INFO probe{};
    probe.channels = 2;
    probe.samplerate = 48000;
    probe.format = kind.format;
    if (!sf_format_check(&probe)) continue;  // not built into this libsndfile
    if (extension == kind.extension) return kind.format;
    known += known.empty() ? kind.extension : std::string(", ") + kind.extension;
  }
  throw cRenderError(kExitFile, "unsupported output format '" + (extension.empty() ? path : extension) +
                                    "' (the output name must end in one of " + known + ")");
}

cOutputFile::cOutputFile(const std::string& path, int format, int sampleRate) : m_Path(path) {
  const std::filesystem::path target(path);
  const std::filesystem::path directory = target.has_parent_path() ? target.parent_path() : ".";
  std::string hidden = ".";
  hidden.append(target.filename().string()).append(".XXXXXX");
  const std::string pattern = (directory / hidden).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) throw cRenderError(kExitFile, "cannot write output '" + path + "': " + std::strerror(errno));
  m_TempPath = name.data();
  ProtectTemp(m_TempPath);
  // mkstemp makes the file private; the result should get the usual permissions.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);

  SF_INFO info{};
  info.channels = 2;
  info.samplerate = sampleRate;
  info.format = format;
  m_File = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
  if (!m_File) {
    const std::string reason = SndfileError(nullptr);  // libsndfile has closed fd
    Discard();
    throw cRenderError(kExitFile, "cannot write output '" + path + "': " + reason);
  }
  // Integer formats clip what lies beyond full scale instead of wrapping it around.
  sf_command(m_File, SFC_SET_CLIPPING, nullptr, SF_TRUE);
}

cOutputFile::~cOutputFile() {
  Discard();
  delete[] m_Interleaved;
}

void cOutputFile::Discard() {
  if (m_File) sf_close(m_File);
  m_File = nullptr;
  if (!m_TempPath.empty()) unlink(m_TempPath.c_str());
  m_TempPath.clear();
  UnprotectTemp();
}

void cOutputFile::Write(const float* left, const float* right, int64_t frames) {
  Grow(m_Interleaved, m_Capacity, frames * 2);
  for (int64_t i = 0; i < frames; ++i) {
    m_Interleaved[2 * i] = left[i];
    m_Interleaved[2 * i + 1] = right[i];
  }
  if (sf_writef_float(m_File, m_Interleaved, frames) != frames) {
    throw cRenderError(kExitFile, "cannot write output '" + m_Path + "': " + SndfileError(m_File));
  }
}

void cOutputFile::Commit() {
  const int closed = sf_close(m_File);
  m_File = nullptr;
  if (closed != 0) {
    throw cRenderError(kExitFile, "cannot write output '" + m_Path + "': " + Trim(sf_error_number(closed)));
  }
  if (std::rename(m_TempPath.c_str(), m_Path.c_str()) != 0) {
    throw cRenderError(kExitFile, "cannot write output '" + m_Path + "': " + std::strerror(errno));
  }
  m_TempPath.clear();
  UnprotectTemp();
}

}  // namespace nimborender
