// Ardour's VST3 scanner, run as Ardour runs it, lists the bundle with its
// name, vendor, category, class ID and two inputs and two outputs.
#include <gtest/gtest.h>

#include <filesystem>

#include "HostTestSupport.h"

namespace {

namespace fs = std::filesystem;

TEST(Vst3InArdour, ScannerListsTheBundle) {
  const std::string scanner = NIMBOHALL_ARDOUR_VST3_SCANNER;
  ASSERT_TRUE(scanner.find("NOTFOUND") == std::string::npos && fs::exists(scanner))
      << "Ardour's VST3 scanner not found; install the ardour package";
  hosttest::cTempDir cache;
  // The scanner finds Ardour's libraries beside it; its cache goes to a folder of the test's own.
  const auto run = hosttest::Run({scanner, "-f", "-v", NIMBOHALL_VST3_BUNDLE}, {},
                                 {"LD_LIBRARY_PATH=" + fs::path(scanner).parent_path().string(),
                                  "XDG_CACHE_HOME=" + cache.Path().string()});
  const std::string said = run.out + run.err;
  ASSERT_EQ(run.status, 0) << said;
  EXPECT_NE(said.find("Found Plugin: Nimbohall"), std::string::npos) << said;
  for (const char* field : {"uid=\"565354B45C2E016E696D626F68616C6C\"", "name=\"Nimbohall\"", "vendor=\"Brannoch\"",
                            "category=\"Fx|Reverb\"", "n_inputs=\"2\"", "n_outputs=\"2\"", "n_midi_inputs=\"0\""}) {
    EXPECT_NE(said.find(field), std::string::npos) << field << " missing from\n" << said;
  }
}

}  // namespace
