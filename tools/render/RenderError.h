// Errors that end a render: a one-line message and the exit status for it.
#pragma once

#include <stdexcept>
#include <string>

namespace nimborender {

// Exit statuses, one per kind of trouble, so scripts can tell them apart.
enum : int {
  kExitOk = 0,
  kExitFile = 1,    // input missing, unreadable or of an unsupported format; output not writable
  kExitUsage = 2,   // the command line itself
  kExitPlugin = 3,  // library, entry, effect or its channel layout
  kExitValue = 4,   // unknown program or parameter, value out of range or not understood
};

class cRenderError : public std::runtime_error {
 public:
  cRenderError(int status, const std::string& message) : std::runtime_error(message), m_Status(status) {}
  int Status() const { return m_Status; }

 private:
  int m_Status;
};

}  // namespace nimborender
