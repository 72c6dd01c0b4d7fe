#include <cstdio>

int main() {
  std::puts("mkfirmware: not built yet");
  return 2;
}
