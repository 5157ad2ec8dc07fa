// Explorer's AVI handler switch: the state table row by row, the keys it
// must leave alone, and what a failure part way leaves behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "lang/Language.h"
#include "settings/Config.h"
#include "settings/ExplorerAviHandler.h"
#include "settings/Registry.h"
#include "support/TempDir.h"

namespace {

using VEKRegistry::Registry;
using VEKRegistry::Root;
namespace Keys = ExplorerAviHandlerKeys;

constexpr char Absent[] = "<absent>";  // the key is there, the value is not
constexpr char NoKey[] = "<no key>";

struct State {
  std::string handler;  // default value of the handler key, Absent or NoKey
  std::optional<std::string> backup;  // "AviHandler" in the backup key; Absent for a key without it
};

void Seed(VEKRegistry::Store& store, const State& state) {
  if (state.handler != NoKey) {
    Registry classes(store, Root::ClassesRoot);
    ASSERT_TRUE(classes.OpenKey(Keys::Handler, true));
    if (state.handler != Absent) classes.WriteString("", state.handler);
  }
  if (state.backup) {
    Registry user(store);
    ASSERT_TRUE(user.OpenKey(Keys::Backup, true));
    if (*state.backup != Absent) user.WriteString(Keys::BackupValue, *state.backup);
  }
}

State Observe(VEKRegistry::Store& store) {
  State state{NoKey, std::nullopt};
  Registry classes(store, Root::ClassesRoot);
  if (classes.OpenKey(Keys::Handler, false))
    state.handler = classes.ValueExists("") ? classes.ReadString("") : std::string(Absent);
  Registry user(store);
  if (user.OpenKey(Keys::Backup, false))
    state.backup = user.ValueExists(Keys::BackupValue) ? user.ReadString(Keys::BackupValue) : std::string(Absent);
  else
    EXPECT_FALSE(user.KeyExists(Keys::BackupRoot)) << "Software\\Zantrel-Backup outlived its backup";
  return state;
}

std::string Show(const State& s) { return s.handler + " / " + (s.backup ? *s.backup : "no backup"); }

enum class Event { Off, On };

TEST(ExplorerHandler, FollowsTheStateTable) {
  const struct {
    const char* row;
    State from;
    Event event;
    State to;
  } rows[] = {
      {"on, no backup: off", {"{h}", std::nullopt}, Event::Off, {"", "{h}"}},
      {"off, backup: on", {"", "{h}"}, Event::On, {"{h}", std::nullopt}},
      {"off, backup: off", {"", "{h}"}, Event::Off, {"", "{h}"}},
      {"on, no backup: on", {"{h}", std::nullopt}, Event::On, {"{h}", std::nullopt}},
      {"off by other means: on", {"", std::nullopt}, Event::On, {"", std::nullopt}},
      {"on, backup left over: off", {"{new}", "{old}"}, Event::Off, {"", "{new}"}},
      {"on, backup left over: on", {"{new}", "{old}"}, Event::On, {"{old}", std::nullopt}},
      {"no handler value: off", {Absent, std::nullopt}, Event::Off, {Absent, std::nullopt}},
      {"backup without AviHandler: on", {"{h}", Absent}, Event::On, {"{h}", std::nullopt}},
      {"empty backup: on", {"{h}", ""}, Event::On, {"{h}", std::nullopt}},
      {"no handler key, backup: on", {NoKey, "{h}"}, Event::On, {NoKey, "{h}"}},
      {"no handler key: off", {NoKey, std::nullopt}, Event::Off, {NoKey, std::nullopt}},
  };
  for (const auto& r : rows) {
    VEKRegistry::MemoryStore store;
    Seed(store, r.from);
    if (r.event == Event::Off)
      DisableExplorerAviHandler(store);
    else
      RestoreExplorerAviHandler(store);
    const State after = Observe(store);
    EXPECT_EQ(Show(after), Show(r.to)) << r.row;
  }
}

TEST(ExplorerHandler, SwitchOffWithNothingToSaveCreatesNoBackupKey) {
  for (const char* handler : {"", Absent}) {
    VEKRegistry::MemoryStore store;
    Registry classes(store, Root::ClassesRoot);
    ASSERT_TRUE(classes.OpenKey(Keys::Handler, true));
    if (std::string(handler) != Absent) classes.WriteString("", handler);
    const std::string before = store.Read().Serialize();
    DisableExplorerAviHandler(store);
    EXPECT_EQ(store.Read().Serialize(), before) << "handler " << handler;
  }
}

TEST(ExplorerHandler, OffThenOnBringsTheValueBackExactlyAndNeverCreatesTheHandlerKey) {
  VEKRegistry::MemoryStore store;
  const std::string value = "{E4B29F9D-D390-480B-92FD-7DDB47101D71} \"quoted\" \\x";
  Seed(store, {value, std::nullopt});
  Registry user(store);
  ASSERT_TRUE(user.OpenKey("Software\\Zantrel-Backup\\Other", true));  // a sibling the switch-on takes too
  DisableExplorerAviHandler(store);
  DisableExplorerAviHandler(store);  // a second switch-off keeps the first backup
  EXPECT_EQ(Show(Observe(store)), Show({"", value}));
  RestoreExplorerAviHandler(store);
  EXPECT_EQ(Show(Observe(store)), Show({value, std::nullopt}));
  EXPECT_FALSE(user.KeyExists("Software\\Zantrel-Backup"));
  EXPECT_TRUE(user.KeyExists("Software"));

  VEKRegistry::MemoryStore empty;
  DisableExplorerAviHandler(empty);
  RestoreExplorerAviHandler(empty);
  EXPECT_TRUE(empty.Read().Keys().empty());
}

TEST(ExplorerHandler, ApplyFollowsDisableAviHandler) {
  VEKRegistry::MemoryStore store;
  Seed(store, {"{h}", std::nullopt});
  Config config;
  config.DisableAviHandler = true;
  ApplyExplorerAviHandler(config, store);
  EXPECT_EQ(Show(Observe(store)), Show({"", "{h}"}));
  config.DisableAviHandler = false;
  ApplyExplorerAviHandler(config, store);
  EXPECT_EQ(Show(Observe(store)), Show({"{h}", std::nullopt}));
}

TEST(ExplorerHandler, WrongTypesFailBeforeAnythingChanges) {
  {
    VEKRegistry::MemoryStore store;
    Registry classes(store, Root::ClassesRoot);
    ASSERT_TRUE(classes.OpenKey(Keys::Handler, true));
    classes.WriteInteger("", 1);
    const std::string before = store.Read().Serialize();
    EXPECT_THROW(DisableExplorerAviHandler(store), VEKRegistry::Exception);
    EXPECT_EQ(store.Read().Serialize(), before);
  }
  {
    VEKRegistry::MemoryStore store;
    Seed(store, {"", std::string(Absent)});
    Registry user(store);
    ASSERT_TRUE(user.OpenKey(Keys::Backup, false));
    user.WriteInteger(Keys::BackupValue, 7);
    const std::string before = store.Read().Serialize();
    EXPECT_THROW(RestoreExplorerAviHandler(store), VEKRegistry::Exception);
    EXPECT_EQ(store.Read().Serialize(), before) << "the backup key stays when its value cannot be read";
  }
}

// Refuses every change to HKEY_CLASSES_ROOT, as a handler key without write
// access would once it is open.
class RefusingClassesRoot : public VEKRegistry::MemoryStore {
 public:
  void Update(const std::function<void(VEKRegistry::Tree&)>& change) override {
    VEKRegistry::MemoryStore::Update([&](VEKRegistry::Tree& tree) {
      const VEKRegistry::Tree before = tree;
      change(tree);
      const auto classes = [](const VEKRegistry::Tree& t) {
        std::string all;
        for (const auto& key : t.Keys())
          if (key.Path.rfind("HKEY_CLASSES_ROOT", 0) == 0) {
            all += key.Path;
            for (const auto& v : key.Values) all += "|" + v.Name + "=" + v.Text;
          }
        return all;
      };
      if (classes(before) != classes(tree)) throw VEKRegistry::Exception("refused");
    });
  }
};

TEST(ExplorerHandler, RefusedBlankingLeavesTheHandlerOnAndItsBackupInPlace) {
  RefusingClassesRoot store;
  {
    VEKRegistry::MemoryStore seed;
    Seed(seed, {"{h}", std::nullopt});
    store.VEKRegistry::MemoryStore::Update([&](VEKRegistry::Tree& tree) { tree = seed.Read(); });
  }
  EXPECT_THROW(DisableExplorerAviHandler(store), VEKRegistry::Exception);
  EXPECT_EQ(Show(Observe(store)), Show({"{h}", "{h}"}));
}

#ifndef _WIN32
// On Windows the user's registry is the system's (WindowsRegistryTest).
TEST(ExplorerHandler, WorksOnTheUsersRegistryFile) {
  ZantrelTest::TempDir dir;
  const char* old = std::getenv("XDG_CONFIG_HOME");
  const std::string oldValue = old ? old : "";
  ::setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
  {
    VEKRegistry::FileStore store(VEKRegistry::DefaultRegistryFileName());
    Seed(store, {"{h}", std::nullopt});
  }
  DisableExplorerAviHandler();
  {
    VEKRegistry::FileStore store(VEKRegistry::DefaultRegistryFileName());
    EXPECT_EQ(Show(Observe(store)), Show({"", "{h}"}));
  }
  RestoreExplorerAviHandler();
  {
    VEKRegistry::FileStore store(VEKRegistry::DefaultRegistryFileName());
    EXPECT_EQ(Show(Observe(store)), Show({"{h}", std::nullopt}));
  }
  if (old)
    ::setenv("XDG_CONFIG_HOME", oldValue.c_str(), 1);
  else
    ::unsetenv("XDG_CONFIG_HOME");
}
#endif

}  // namespace
