#include <cstdio>

int main() {
  std::puts("pdsim: not built yet");
  return 2;
}
