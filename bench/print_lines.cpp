// The cost of printing a run's lines and nothing else: writes the lines of
// FILE to standard output as the console program prints the worker's lines,
// one at a time into the stream's buffer, which is flushed once 5 ms have
// passed since the last flush (the console's poll) and at the end. The file
// is read first; only the writing is timed. Built and run by bench/bench.py.
//
// Usage: zantrel-print-lines FILE RUNS
// Prints one line on standard error: lines, bytes, median, min and max seconds
// of RUNS writings of all the lines (standard output is rewound before each
// when it is a file, so every run writes the same file).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: zantrel-print-lines FILE RUNS\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.emplace_back(text, at, end - at);
    at = end + 1;
  }
  const int runs = std::max(1, std::atoi(argv[2]));
  std::vector<double> seconds;
  for (int run = 0; run < runs; ++run) {
    if (lseek(STDOUT_FILENO, 0, SEEK_SET) == 0) (void)!ftruncate(STDOUT_FILENO, 0);
    const auto start = std::chrono::steady_clock::now();
    auto nextFlush = start + std::chrono::milliseconds(5);
    std::size_t written = 0;
    for (const std::string& line : lines) {
      std::fwrite(line.data(), 1, line.size(), stdout);
      std::fputc('\n', stdout);
      // The clock is read every 64 lines: reading it at each would cost more
      // than the console's own poll does.
      if (++written % 64 != 0) continue;
      if (const auto now = std::chrono::steady_clock::now(); now >= nextFlush) {
        std::fflush(stdout);
        nextFlush = now + std::chrono::milliseconds(5);
      }
    }
    std::fflush(stdout);
    seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(seconds.begin(), seconds.end());
  std::fprintf(stderr, "lines %zu bytes %zu median %.6f min %.6f max %.6f\n", lines.size(), text.size(),
               seconds[seconds.size() / 2], seconds.front(), seconds.back());
  return 0;
}
