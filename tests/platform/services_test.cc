#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/message_box.h"
#include "platform/named_mutex.h"
#include "platform/paths.h"

namespace {

std::string UniqueName(const char* base) {
  return base + std::to_string(getpid());
}

TEST(NamedMutexTest, SecondHolderSeesItExistsUntilReleased) {
  const std::string name = UniqueName("test.mutex.");
  port::NamedMutex first(name);
  ASSERT_TRUE(first.Held());
  EXPECT_FALSE(first.AlreadyExists());
  port::NamedMutex second(name);
  EXPECT_FALSE(second.Held());
  EXPECT_TRUE(second.AlreadyExists());
  EXPECT_TRUE(port::NamedMutex::Exists(name));
  first.Release();
  EXPECT_FALSE(port::NamedMutex::Exists(name));
}

TEST(NamedMutexTest, AKilledHolderLeavesNothingBehind) {
  const std::string name = UniqueName("test.crash.");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    port::NamedMutex held(name);
    const char ok = held.Held() ? 'y' : 'n';
    (void)!write(ready[1], &ok, 1);
    pause();
    _exit(0);
  }
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  EXPECT_EQ(ok, 'y');
  EXPECT_TRUE(port::NamedMutex::Exists(name));
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_FALSE(port::NamedMutex::Exists(name));
  close(ready[0]);
  close(ready[1]);
}

TEST(PathsTest, WindowsPathsMapUnderTheDriveRoot) {
  setenv("VEL_DRIVE_ROOT", "/srv/drives", 1);
  EXPECT_EQ(port::MapLocalPath(L"C:\\QRV\\History"), "/srv/drives/c/QRV/History");
  EXPECT_EQ(port::MapLocalPath(L"d:log.txt"), "/srv/drives/d/log.txt");
  EXPECT_EQ(port::MapLocalPath(L"\\QRV\\x"), "/srv/drives/c/QRV/x");
  EXPECT_EQ(port::MapLocalPath(L".\\oem.ini"), "./oem.ini");
  EXPECT_EQ(port::MapLocalPath(L"/tmp/a b"), "/tmp/a b");
  unsetenv("VEL_DRIVE_ROOT");
}

TEST(PathsTest, XdgLocations) {
  setenv("XDG_DATA_HOME", "/home/u/data", 1);
  setenv("XDG_DATA_DIRS", "/opt/share:/usr/share", 1);
  EXPECT_EQ(port::UserDataDir(), "/home/u/data");
  EXPECT_EQ(port::SharedDataDir(), "/opt/share");
  EXPECT_EQ(port::DriveRoot(), "/home/u/data/velappclient/drives");
  unsetenv("XDG_DATA_HOME");
  unsetenv("XDG_DATA_DIRS");
  setenv("HOME", "/home/v", 1);
  EXPECT_EQ(port::UserDataDir(), "/home/v/.local/share");
  EXPECT_EQ(port::SharedDataDir(), "/usr/local/share");
}

TEST(MessageBoxTest, HandlerReceivesTextAndAnswersQuestions) {
  std::wstring seen;
  port::SetMessageBoxHandler(
      [&](const std::wstring& text, const std::wstring& title, port::MessageKind kind) {
        seen = title + L"|" + text;
        return kind == port::MessageKind::kQuestion ? port::MessageAnswer::kYes
                                                    : port::MessageAnswer::kOk;
      });
  EXPECT_EQ(port::ShowMessage(L"Close other?", L"In use", port::MessageKind::kQuestion),
            port::MessageAnswer::kYes);
  EXPECT_EQ(seen, L"In use|Close other?");
  port::SetMessageBoxHandler(nullptr);
  // Without a handler, questions take the safe answer.
  EXPECT_EQ(port::ShowMessage(L"q", L"t", port::MessageKind::kQuestion), port::MessageAnswer::kNo);
}

}  // namespace
