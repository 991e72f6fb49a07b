// Audio files through libsndfile: the input read block by block, the output
// written to a temporary file beside its destination and renamed into place
// only when complete, so a failed render never leaves a file that looks done.
#pragma once

#include <cstdint>
#include <string>

#include <sndfile.h>

namespace nimborender {

class cInputFile {
 public:
  explicit cInputFile(const std::string& path);  // throws cRenderError (kExitFile)
  ~cInputFile();
  cInputFile(const cInputFile&) = delete;
  cInputFile& operator=(const cInputFile&) = delete;

  int Channels() const { return m_Info.channels; }
  double SampleRate() const { return m_Info.samplerate; }
  int64_t Frames() const { return m_Info.frames; }
  // Up to `frames` frames as two channels (mono goes to both); the number read.
  int64_t Read(float* left, float* right, int64_t frames);

 private:
  std::string m_Path;
  SNDFILE* m_File = nullptr;
  SF_INFO m_Info{};
  float* m_Interleaved = nullptr;
  int64_t m_Capacity = 0;
};

// The libsndfile format for an output path's extension; throws cRenderError
// (kExitFile) for an extension it cannot write.
int OutputFormatFor(const std::string& path);

class cOutputFile {
 public:
  // Creates the temporary file; throws cRenderError (kExitFile).
  cOutputFile(const std::string& path, int format, int sampleRate);
  ~cOutputFile();  // removes the temporary file unless committed
  cOutputFile(const cOutputFile&) = delete;
  cOutputFile& operator=(const cOutputFile&) = delete;

  void Write(const float* left, const float* right, int64_t frames);
  // Finishes the file and moves it to its name.
  void Commit();

 private:
  void Discard();

  std::string m_Path;
  std::string m_TempPath;
  SNDFILE* m_File = nullptr;
  float* m_Interleaved = nullptr;
  int64_t m_Capacity = 0;
};

}  // namespace nimborender
