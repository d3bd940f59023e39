#include "cli/command_line.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <string>
#include <vector>

// The Windows console program: the arguments are taken from the wide-character
// command line and handed on as UTF-8, so that file names outside the console's
// code page work (files are opened through the wide-character API from UTF-8);
// standard output and error are binary, so that they carry the bytes the Linux
// build writes, without carriage returns.
int main() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  int argc = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> args(wide ? argc : 0);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    args[i].resize(n > 0 ? n : 1);
    WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, args[i].data(), n, nullptr, nullptr);
    args[i].resize(args[i].size() - 1);  // the terminating NUL
  }
  LocalFree(wide);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return sarvik::cli_main(static_cast<int>(args.size()), argv.data());
}
#else
int main(int argc, char** argv) { return sarvik::cli_main(argc, argv); }
#endif
