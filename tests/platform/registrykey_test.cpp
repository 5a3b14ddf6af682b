// Key handles close themselves: on scope exit, on an exception, when their
// key is deleted and when the guarded sequence that opened them ends.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <stdexcept>

#include "platform/registry.h"
#include "testutil.h"

namespace tv::platform {
namespace {

constexpr const char* kKey = "SOFTWARE\\Orvane Group\\Tovalin+";

TEST(RegistryKey, ClosesOnScopeExitMoveAndException) {
  test::TempDir dir;
  Registry reg(dir / "registry.db");
  {
    RegistryKey key = reg.Open(kKey, true);
    ASSERT_TRUE(key);
    key.WriteInteger("VerInterval", 10);
    RegistryKey moved = std::move(key);
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(moved.ReadInteger("VerInterval"), 10);
    EXPECT_EQ(reg.OpenKeyCount(), 1u);
  }
  EXPECT_EQ(reg.OpenKeyCount(), 0u);

  auto readThenFail = [&] {
    RegistryKey key = reg.OpenReadOnly(kKey);
    key.ReadInteger("Missing");
  };
  EXPECT_THROW(readThenFail(), RegistryError);
  EXPECT_EQ(reg.OpenKeyCount(), 0u);

  EXPECT_FALSE(reg.OpenReadOnly("SOFTWARE\\Nothing")) << "a missing key opens closed";
  EXPECT_FALSE(reg.KeyExists("SOFTWARE\\Nothing")) << "and is not created";
}

TEST(RegistryKey, ErrorsNameTheValueAndTheKey) {
  test::TempDir dir;
  Registry reg(dir / "registry.db");
  reg.Open(kKey, true).WriteString("ForceDi30", "no");
  RegistryKey key = reg.OpenReadOnly(kKey);
  auto message = [](const std::function<void()>& f) {
    try {
      f();
    } catch (const RegistryError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  const std::string where = " in HKCU\\SOFTWARE\\Orvane Group\\Tovalin+: ";
  EXPECT_EQ(message([&] { key.ReadInteger("VerInterval"); }), "VerInterval" + where + "missing");
  EXPECT_EQ(message([&] { key.ReadBool("ForceDi30"); }), "ForceDi30" + where + "not a REG_DWORD");
  EXPECT_EQ(message([&] { key.WriteInteger("VerInterval", 1); }),
            "VerInterval" + where + "the key is open read-only");
  EXPECT_FALSE(key.ValueExists("VerInterval")) << "the refused write changed nothing";
  key.Close();
  EXPECT_EQ(message([&] { key.ReadString("ForceDi30"); }), "ForceDi30" + where + "the key is not open");
}

TEST(GuardedRegistry, ASequenceClosesItsKeysAndReleasesTheLock) {
  test::TempDir dir;
  GuardedRegistry store(dir / "registry.db");
  RegistryKey escaped;
  auto writeThenFail = [&] {
    auto reg = store.Lock();
    escaped = reg->Open(kKey, true);
    escaped.WriteInteger("SocketPort", 2000);
    throw std::runtime_error("cut short");
  };
  EXPECT_THROW(writeThenFail(), std::runtime_error);
  EXPECT_FALSE(escaped.IsOpen()) << "a handle never outlives its sequence";
  EXPECT_THROW(escaped.WriteInteger("SocketPort", 1), RegistryError);

  // Another thread gets the lock and sees the write that was made.
  auto other = std::async(std::launch::async, [&] {
    auto reg = store.Lock();
    return reg->OpenKeyCount() == 0 ? reg->OpenReadOnly(kKey).ReadInteger("SocketPort") : -1;
  });
  ASSERT_EQ(other.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(other.get(), 2000);
}

}  // namespace
}  // namespace tv::platform
