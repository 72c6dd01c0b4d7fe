#include <cstdlib>
#include <filesystem>

#include "platform/platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace pdflash {

std::string RealHost::ExePath() {
#ifdef _WIN32
  // A result that fills the buffer may have been cut: try a larger one.
  std::string buf(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size() || buf.size() >= 32768) return buf.substr(0, n);
    buf.resize(buf.size() * 2);
  }
#else
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : p.string();
#endif
}

bool RealHost::PathExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

bool RealHost::IsDirectory(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(path, ec);
}

bool RealHost::PostWindowMessage(uint64_t hwnd, uint32_t msg, uint64_t wparam, int64_t lparam) {
#ifdef _WIN32
  return PostMessageW(reinterpret_cast<HWND>(static_cast<uintptr_t>(hwnd)), msg,
                      static_cast<WPARAM>(wparam), static_cast<LPARAM>(lparam)) != 0;
#else
  // No window system to post to.
  (void)hwnd, (void)msg, (void)wparam, (void)lparam;
  return false;
#endif
}

bool RealHost::RunHidden(const std::string& command, const std::string& dir, uint32_t& exit_code) {
#ifdef _WIN32
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION pi{};
  std::string cmd = command;  // CreateProcessA may write into the command line
  // A program named without a folder is looked up in our current directory,
  // not in the child's: be in `dir` while starting it, then go back.
  std::string previous;
  if (!dir.empty()) {
    previous.resize(MAX_PATH * 4);
    const DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(previous.size()), previous.data());
    previous.resize(n < previous.size() ? n : 0);
    if (!SetCurrentDirectoryA(dir.c_str())) return false;
  }
  const BOOL started = CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                      dir.empty() ? nullptr : dir.c_str(), &si, &pi);
  if (!previous.empty()) SetCurrentDirectoryA(previous.c_str());
  if (!started) return false;
  CloseHandle(pi.hThread);
  DWORD code = 0;
  const bool ended = WaitForSingleObject(pi.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                     GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  // A process we cannot wait for counts as failed rather than as exit code 0.
  exit_code = ended ? code : 1;
  return true;
#else
  // The uninstaller only exists on Windows.
  (void)command, (void)dir, (void)exit_code;
  return false;
#endif
}

std::string RealHost::GetEnv(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

}  // namespace pdflash
