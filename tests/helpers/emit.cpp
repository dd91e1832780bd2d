// Test child: emit <bytes> [chunk] [sleep_ms_between_chunks] [exit_code]
// writes <bytes> bytes of the pattern (i % 251), which holds zero bytes, to
// standard output in writes of [chunk] bytes. "emit --stdin" reports whether
// standard input gave anything.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  if (argc > 1 && std::strcmp(argv[1], "--stdin") == 0) {
    int c = std::getchar();
    std::printf(c == EOF ? "stdin: none\n" : "stdin: data\n");
    return 0;
  }
  long long total = argc > 1 ? std::atoll(argv[1]) : 0;
  long long chunk = argc > 2 ? std::atoll(argv[2]) : 65536;
  int pause = argc > 3 ? std::atoi(argv[3]) : 0;
  int code = argc > 4 ? std::atoi(argv[4]) : 0;
  if (chunk <= 0) chunk = 65536;
  std::string buf;
  for (long long i = 0; i < total; i += chunk) {
    buf.clear();
    for (long long j = i; j < total && j < i + chunk; ++j) buf += static_cast<char>(j % 251);
    std::fwrite(buf.data(), 1, buf.size(), stdout);
    std::fflush(stdout);
    if (pause) std::this_thread::sleep_for(std::chrono::milliseconds(pause));
  }
  return code;
}
