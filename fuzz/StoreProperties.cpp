#include "StoreProperties.h"

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
  Tree Read() override { return Tree::Parse(text, "fuzz.reg"); }
  void Update(const std::function<void(Tree&)>& change) override {
    Tree tree = Read();
    change(tree);
    text = tree.Serialize();
  }
  std::string text;
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

}  // namespace

std::vector<std::string> CheckStoreRoundTrip(std::string_view input) {
  std::vector<std::string> broken;
  ParseWriteParse(input, broken);
  WriteReadBack(input, broken);
  return broken;
}

}  // namespace ZantrelFuzz
