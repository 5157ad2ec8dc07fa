#include "StoreProperties.h"

#include <time.h>

#include <algorithm>

#include "lang/Language.h"
#include "settings/Config.h"
#include "settings/ExplorerAviHandler.h"
#include "settings/Registry.h"
#include "settings/RegistryStore.h"
#include "settings/RegistryTree.h"

namespace ZantrelFuzz {

namespace {

using VEKRegistry::Tree;

// The file store's cycle (parse the content, change it, write it whole)
// without the disk, so the fuzzer spends its time in the parser and writer.
class TextStore : public VEKRegistry::Store {
 public:
  Tree Read() override {
    ++reads;
    return Tree::Parse(text, "fuzz.reg");
  }
  void Update(const std::function<void(Tree&)>& change) override {
    Tree tree = Read();
    change(tree);
    text = tree.Serialize();
    ++updates;
  }
  std::string text;
  int reads = 0, updates = 0;
};

std::string Describe(const VEKRegistry::Value& v) {
  return "\"" + v.Name + "\" kind " + std::to_string(static_cast<int>(v.Kind)) + " number " +
         std::to_string(v.Number) + " text \"" + v.Text + "\"";
}

// Same keys in the same order, each with the same values.
std::string Compare(const Tree& a, const Tree& b) {
  if (a.Keys().size() != b.Keys().size())
    return std::to_string(a.Keys().size()) + " keys became " + std::to_string(b.Keys().size());
  for (std::size_t k = 0; k < a.Keys().size(); ++k) {
    const auto& ka = a.Keys()[k];
    const auto& kb = b.Keys()[k];
    if (ka.Path != kb.Path) return "key \"" + ka.Path + "\" became \"" + kb.Path + "\"";
    if (ka.Values.size() != kb.Values.size()) return "key \"" + ka.Path + "\" changed its number of values";
    for (std::size_t v = 0; v < ka.Values.size(); ++v) {
      const auto& va = ka.Values[v];
      const auto& vb = kb.Values[v];
      if (va.Name != vb.Name || va.Kind != vb.Kind || va.Number != vb.Number || va.Text != vb.Text)
        return "in key \"" + ka.Path + "\" value " + Describe(va) + " became " + Describe(vb);
    }
  }
  return "";
}

void ParseWriteParse(std::string_view input, std::vector<std::string>& broken) {
  Tree first;
  try {
    first = Tree::Parse(input, "fuzz.reg");
  } catch (const VEKRegistry::Exception&) {
    return;  // a file it cannot read is reported, which is all it owes
  }
  const std::string written = first.Serialize();
  Tree second;
  try {
    second = Tree::Parse(written, "fuzz.reg");
  } catch (const VEKRegistry::Exception& e) {
    broken.push_back("what it wrote cannot be read back: " + e.Message());
    return;
  }
  const std::string diff = Compare(first, second);
  if (!diff.empty()) broken.push_back("parse, write, parse: " + diff);
  if (second.Serialize() != written) broken.push_back("writing what it read back changes the text");
}

// Splits the input into a key name, a value name and a text at its first two
// NUL bytes, and writes them through the registry object.
void WriteReadBack(std::string_view input, std::vector<std::string>& broken) {
  const std::size_t a = input.find('\0');
  if (a == std::string_view::npos) return;
  const std::size_t b = input.find('\0', a + 1);
  if (b == std::string_view::npos) return;
  const std::string key = "Software\\" + std::string(input.substr(0, a));
  const std::string name(input.substr(a + 1, b - a - 1));
  const std::string text(input.substr(b + 1));
  const std::string expected = text.substr(0, text.find('\0'));

  TextStore store;
  VEKRegistry::Registry reg(store);
  try {
    if (!reg.OpenKey(key, true)) return;
    reg.WriteString(name, text);
    reg.WriteInteger(name + "#", static_cast<std::int32_t>(text.size()));
  } catch (const VEKRegistry::Exception&) {
    return;  // a name the text form cannot carry is refused, not mangled
  }
  try {
    VEKRegistry::Registry again(store);
    if (!again.OpenKey(key, false)) {
      broken.push_back("key \"" + key + "\" written but not found again");
      return;
    }
    if (again.ReadString(name) != expected) broken.push_back("value \"" + name + "\" does not read back as written");
    if (again.ReadInteger(name + "#") != static_cast<std::int32_t>(text.size()))
      broken.push_back("integer \"" + name + "#\" does not read back as written");
  } catch (const VEKRegistry::Exception& e) {
    broken.push_back("what it wrote cannot be read back: " + e.Message());
  }
}

// A load hands a stored "Language" to the program: the checks that follow
// must not find their messages in another language.
class KeepLanguage {
 public:
  KeepLanguage() : language_(VEK::LanguageIndex()) {}
  ~KeepLanguage() { VEK::SetLanguage(language_); }
  KeepLanguage(const KeepLanguage&) = delete;
  KeepLanguage& operator=(const KeepLanguage&) = delete;

 private:
  std::int8_t language_;
};

// Keys the settings record reads and writes, with the handler switch's.
bool Owned(const std::string& path) {
  const auto within = [&](const std::string& key) {
    return VEKRegistry::SameName(path, key) ||
           (path.size() > key.size() && path[key.size()] == '\\' &&
            VEKRegistry::SameName(path.substr(0, key.size()), key));
  };
  return within(std::string("HKEY_CURRENT_USER\\") + SettingsKeys::Root) ||
         within(std::string("HKEY_CURRENT_USER\\") + ExplorerAviHandlerKeys::BackupRoot) ||
         within(std::string("HKEY_CLASSES_ROOT\\") + ExplorerAviHandlerKeys::Handler);
}

// A key above the program's own, which a save makes when it is missing.
bool Above(const std::string& path) {
  const auto above = [&](const std::string& key) {
    return key.size() > path.size() && key[path.size()] == '\\' &&
           VEKRegistry::SameName(key.substr(0, path.size()), path);
  };
  return above(std::string("HKEY_CURRENT_USER\\") + SettingsKeys::Root) ||
         above(std::string("HKEY_CURRENT_USER\\") + ExplorerAviHandlerKeys::Backup) ||
         above(std::string("HKEY_CLASSES_ROOT\\") + ExplorerAviHandlerKeys::Handler);
}

std::string Others(const Tree& tree) {
  std::string all;
  for (const auto& key : tree.Keys()) {
    if (Owned(key.Path) || (Above(key.Path) && key.Values.empty())) continue;
    all += "[" + key.Path + "]";
    for (const auto& v : key.Values) all += Describe(v) + ";";
  }
  return all;
}

std::string Fields(const Config& c) {
  const std::int64_t all[] = {c.Left, c.Top, c.Width, c.Height, c.StayOnTop, c.ShowWindow, c.AutoClear,
                              c.SelectedFile, c.ModifyOriginalPrompt, c.OverwritePrompt, c.StopPrompt,
                              c.OverwriteBehavior, c.DisableAviHandler, c.KeepOriginal, c.FilesColumn0Width,
                              c.FilesColumn1Width, c.FilesWidth};
  std::string text;
  for (std::int64_t field : all) text += std::to_string(field) + ",";
  // A text goes to the registry as a C string would hand it over.
  return text + c.Prefix.substr(0, c.Prefix.find('\0'));
}

// The input as the whole registry: a load reads it once (and once more to
// commit what it renamed), a save of a moved window reads it once plus once
// to commit and writes it once, and what is not the program's stays as it
// was.
void LoadSaveKeepsTheRest(std::string_view input, std::vector<std::string>& broken) {
  Tree first;
  try {
    first = Tree::Parse(input, "fuzz.reg");
  } catch (const VEKRegistry::Exception&) {
    return;
  }
  const KeepLanguage keep;
  TextStore store;
  store.text = input;
  Config config;
  try {
    config.Load(store);
  } catch (const VEKRegistry::Exception&) {
    // A value of the wrong type stops the load, as it must; the save below
    // writes over it.
  }
  // One read, and one more under the lock for the one update that renamed
  // values or switched the handler.
  if (store.updates > 1) broken.push_back("a load wrote the registry " + std::to_string(store.updates) + " times");
  if (store.reads != 1 + store.updates)
    broken.push_back("a load read the registry " + std::to_string(store.reads) + " times");
  store.reads = store.updates = 0;
  config.Left ^= 1;
  try {
    config.Save(store);
  } catch (const VEKRegistry::Exception& e) {
    broken.push_back("a save failed: " + e.Message());
    return;
  }
  if (store.reads != 2) broken.push_back("a save read the registry " + std::to_string(store.reads) + " times");
  if (store.updates != 1) broken.push_back("a save wrote the registry " + std::to_string(store.updates) + " times");
  try {
    const Tree after = Tree::Parse(store.text, "fuzz.reg");
    if (Others(after) != Others(first)) broken.push_back("a load and save changed values that are not theirs");
    Config back;
    back.Load(store);
    if (Fields(back) != Fields(config)) broken.push_back("saved settings read back as " + Fields(back));
  } catch (const VEKRegistry::Exception& e) {
    broken.push_back("what a save wrote cannot be read back: " + e.Message());
  }
}

double ProcessorSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// `copies` times the input's keys, each under a name of its own, then one key
// holding every value of every copy.
std::string Amplified(const std::string& written, std::size_t copies) {
  std::vector<std::string_view> lines;
  for (std::size_t start = 0; start < written.size();) {
    const std::size_t end = std::min(written.find('\n', start), written.size());
    std::string_view line = std::string_view(written).substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);  // the text of a CR LF file
    lines.push_back(line);
    start = end + 1;
  }
  std::string keys, values;
  for (std::size_t copy = 0; copy < copies; ++copy) {
    const std::string tag = std::to_string(copy);
    bool continued = false;
    for (std::size_t n = 2; n < lines.size(); ++n) {  // after "REGEDIT4" and its blank line
      const std::string_view line = lines[n];
      const bool section = !continued && !line.empty() && line.front() == '[' && line.back() == ']';
      const bool value = !continued && !line.empty() && (line.front() == '"' || line.front() == '@');
      if (section)
        keys.append(line.substr(0, line.size() - 1)).append("\\").append(tag).append("]\n");
      else
        keys.append(line).append("\n");
      if (value && line.front() == '"')
        values.append("\"").append(tag).append("#").append(line.substr(1)).append("\n");
      else if (value)
        values.append("\"").append(tag).append("#\"").append(line.substr(1)).append("\n");
      else if (continued)
        values.append(line).append("\n");
      continued = (value || continued) && !line.empty() && line.back() == '\\';
    }
  }
  return "REGEDIT4\n\n" + keys + "[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2\\Files]\n" + values;
}

// Parse, write, and a load and save of the settings on the text.
double Work(const std::string& text) {
  const KeepLanguage keep;
  const double start = ProcessorSeconds();
  try {
    const Tree tree = Tree::Parse(text, "fuzz.reg");
    (void)tree.Serialize();
    TextStore store;
    store.text = text;
    Config config;
    try {
      config.Load(store);
    } catch (const VEKRegistry::Exception&) {
    }
    config.Left ^= 1;
    config.Save(store);
  } catch (const VEKRegistry::Exception&) {
  }
  return ProcessorSeconds() - start;
}

}  // namespace

std::vector<std::string> CheckStoreScales(std::string_view input) {
  std::vector<std::string> broken;
  std::string written;
  try {
    const Tree tree = Tree::Parse(input, "fuzz.reg");
    if (tree.Keys().empty()) return broken;
    written = tree.Serialize();
    // A large input is large already; it would only make the check slow.
    if (written.size() > 32768) return broken;
  } catch (const VEKRegistry::Exception&) {
    return broken;
  }
  // About 32 KB against about 256 KB: large enough that a path quadratic in
  // the keys or values outweighs the fixed costs, small enough to run often.
  const std::size_t copies = std::max<std::size_t>(1, 32768 / written.size());
  const std::string small = Amplified(written, copies);
  const std::string large = Amplified(written, copies * 8);
  // The least of three runs: the other processes of a busy machine only ever
  // add to a measure.
  double smallSeconds = 1e9, largeSeconds = 1e9;
  for (int run = 0; run < 3; ++run) {
    smallSeconds = std::min(smallSeconds, Work(small));
    largeSeconds = std::min(largeSeconds, Work(large));
  }
  // Linear work gives eight; a quadratic path, sixty-four once it dominates.
  // The millisecond keeps the timer's grain out of tiny measures.
  if (largeSeconds > 24 * smallSeconds + 0.001)
    broken.push_back("8 times the text took " + std::to_string(largeSeconds / smallSeconds) + " times as long (" +
                     std::to_string(small.size()) + " bytes: " + std::to_string(smallSeconds) + " s, " +
                     std::to_string(large.size()) + " bytes: " + std::to_string(largeSeconds) + " s)");
  return broken;
}

std::vector<std::string> CheckStoreRoundTrip(std::string_view input) {
  std::vector<std::string> broken;
  ParseWriteParse(input, broken);
  WriteReadBack(input, broken);
  LoadSaveKeepsTheRest(input, broken);
  return broken;
}

}  // namespace ZantrelFuzz
