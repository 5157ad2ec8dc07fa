// Times one load and one save of the settings record on a registry file that
// other programs made large: the start-up and the save at every exit, on the
// file store with its lock, flush and replace. Built and run by bench/bench.py.
//
// Usage: zantrel-settings-bench FOLDER KEYS RUNS
// Writes FOLDER/registry.reg with KEYS keys (the program's own among them),
// then, RUNS times, puts the file back as made (untimed) and times
// Config::Load followed by Config::Save of a record whose window has moved.
// Prints one line: keys, bytes, median, min and max seconds, and how many
// times the file was replaced by the last save.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "settings/Config.h"
#include "settings/RegistryStore.h"

namespace {

// Keys as a shell, an office suite and a few tools leave them: one to three
// values each, now and then a comment or a long hex list; KEYS of them in
// all, the program's own included.
std::string MakeRegistry(int keys) {
  // The program's own keys, as an earlier save left them, go half-way down.
  std::string own;
  {
    Config saved;
    VEKRegistry::MemoryStore store;
    saved.Save(store);
    own = store.Read().Serialize();
    own.erase(0, own.find('['));
  }
  const int others = keys - static_cast<int>(std::count(own.begin(), own.end(), '['));
  std::string text = "REGEDIT4\n\n; written by the settings benchmark\n\n";
  char line[160];
  for (int k = 0; k < others; ++k) {
    std::snprintf(line, sizeof line, "[HKEY_CURRENT_USER\\Software\\Vendor%02d\\Tool%d\\Recent]\n", k % 37, k);
    text += line;
    std::snprintf(line, sizeof line, "\"Count\"=dword:%08x\n", static_cast<unsigned>(k * 7919));
    text += line;
    if (k % 3 == 0) {
      std::snprintf(line, sizeof line, "\"Path\"=\"C:\\\\Users\\\\someone\\\\File %d.avi\"\n", k);
      text += line;
    }
    if (k % 50 == 0) text += "; kept by hand\n\"Blob\"=hex:de,ad,be,ef,00,11,22,33,44,55,66,77,88,99,aa,bb,cc,\\\n  dd,ee,ff\n";
    text += '\n';
    if (k == others / 2) text += own;
  }
  return text;
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(1);
  }
}

ino_t Inode(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s FOLDER KEYS RUNS\n", argv[0]);
    return 2;
  }
  const std::string file = std::string(argv[1]) + "/registry.reg";
  const int keys = std::atoi(argv[2]);
  const int runs = std::atoi(argv[3]);
  if (keys < 1 || runs < 1) {
    std::fprintf(stderr, "KEYS and RUNS must be positive\n");
    return 2;
  }
  const std::string text = MakeRegistry(keys);
  std::vector<double> seconds;
  int replaced = 0;
  try {
    for (int run = 0; run <= runs; ++run) {  // run 0 warms up, untimed
      WriteFile(file, text);
      const ino_t before = Inode(file);
      VEKRegistry::FileStore store(file);
      const auto start = std::chrono::steady_clock::now();
      Config config;
      config.Load(store);
      config.Left += 10;  // the window moved, so the save has something to write
      config.Save(store);
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      if (run > 0) seconds.push_back(took.count());
      replaced = Inode(file) != before ? 1 : 0;
    }
  } catch (const VEKRegistry::Exception& e) {
    std::fprintf(stderr, "%s\n", e.Message().c_str());
    return 1;
  }
  std::sort(seconds.begin(), seconds.end());
  std::printf("keys %d bytes %zu median %.6f min %.6f max %.6f replaced %d\n", keys, text.size(),
              seconds[seconds.size() / 2], seconds.front(), seconds.back(), replaced);
  return 0;
}
