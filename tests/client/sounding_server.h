// A server for the client's end-to-end tests: vesk1_pipe with the sounding module and
// vesk1_fdll beside it in its working directory.
#ifndef VESK1_TESTS_CLIENT_SOUNDING_SERVER_H_
#define VESK1_TESTS_CLIENT_SOUNDING_SERVER_H_

#include <filesystem>
#include <string>

#include "server_harness.h"

namespace vesk1::test {

inline ServerOptions SoundingServer() {
  ServerOptions options;
  options.copyModule = false;
  options.prepare = [](const std::string& work) {
    std::filesystem::copy_file(VESK1_CHZD_FILE, work + "/" + kModuleFile);
    std::filesystem::copy_file(VESK1_FDLL_FILE, work + "/vesk1_fdll" + std::string(kModuleSuffix));
  };
  return options;
}

}  // namespace vesk1::test

#endif  // VESK1_TESTS_CLIENT_SOUNDING_SERVER_H_
