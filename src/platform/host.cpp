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
  char buf[MAX_PATH + 1] = {};
  const DWORD n = GetModuleFileNameA(nullptr, buf, MAX_PATH);
  return std::string(buf, n);
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
  std::string cmd = command;
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      dir.empty() ? nullptr : dir.c_str(), &si, &pi))
    return false;
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  exit_code = code;
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
