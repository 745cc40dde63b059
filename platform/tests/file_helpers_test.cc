// The descriptor owner, the durable replacement of a file and the failure texts of files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>

#include "platform/file_errors.h"
#include "platform/replace_file.h"
#include "platform/unique_fd.h"
#include "tests/support/cgi_runner.h"

namespace kvo::platform {
namespace {

bool IsOpen(int fd) {
  return ::fcntl(fd, F_GETFD) != -1;
}

TEST(UniqueFd, ClosesExactlyOnceWhoeverOwnsIt) {
  int raw = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(raw, 0);
  {
    UniqueFd a(raw);
    UniqueFd b(std::move(a));
    EXPECT_FALSE(a.Valid());
    UniqueFd c;
    c = std::move(b);
    EXPECT_EQ(c.Get(), raw);
    EXPECT_TRUE(IsOpen(raw));
  }
  EXPECT_FALSE(IsOpen(raw));

  // Released: the caller owns it and the owner closes nothing.
  raw = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  {
    UniqueFd a(raw);
    EXPECT_EQ(a.Release(), raw);
  }
  EXPECT_TRUE(IsOpen(raw));
  UniqueFd again(raw);
  EXPECT_EQ(again.Close(), 0);
  EXPECT_FALSE(IsOpen(raw));
  EXPECT_EQ(again.Close(), 0);  // nothing left to close

  // Reset closes the old descriptor before taking the new one.
  int first = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  int second = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  UniqueFd owner(first);
  owner.Reset(second);
  EXPECT_FALSE(IsOpen(first));
  EXPECT_TRUE(IsOpen(second));
}

TEST(UniqueFd, WholeReadsAndWritesThroughAPipe) {
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  UniqueFd readEnd(ends[0]), writeEnd(ends[1]);
  std::string big(200000, 'x');  // more than a pipe holds: the writer needs the reader
  pid_t child = ::fork();
  if (child == 0) {
    readEnd.Reset();
    ::_exit(WriteAll(writeEnd.Get(), big) == 0 ? 0 : 1);
  }
  writeEnd.Reset();
  std::string got = "head:";
  EXPECT_EQ(ReadAll(readEnd.Get(), got), 0);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(got, "head:" + big);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // Writing to a pipe nobody reads fails with the errno value, not a crash.
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  UniqueFd r(ends[0]), w(ends[1]);
  r.Reset();
  ::signal(SIGPIPE, SIG_IGN);
  EXPECT_EQ(WriteAll(w.Get(), "x"), EPIPE);
}

class ReplaceFile : public ::testing::Test {
 protected:
  void SetUp() override { setenv("KVO_DRIVES", dir.path().c_str(), 1); }
  void TearDown() override { unsetenv("KVO_DRIVES"); }
  // The names in the folder, so a stray temporary file shows.
  std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
      names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  testing::TempDir dir;
};

TEST_F(ReplaceFile, ReplacesWholeAndLeavesNothingBeside) {
  const std::string folder = dir.path() + "/C";
  testing::WriteFile(folder + "/list.txt", "old content that is longer");
  ReplaceWholeFile("C:\\list.txt", "new");
  EXPECT_EQ(testing::ReadFile(folder + "/list.txt"), "new");
  ReplaceWholeFile("C:\\other.txt", "");  // created, and empty is a content too
  EXPECT_EQ(testing::ReadFile(folder + "/other.txt"), "");
  EXPECT_EQ(Names(folder), (std::vector<std::string>{"list.txt", "other.txt"}));
}

TEST_F(ReplaceFile, FailureLeavesTheTargetAndNoTemporary) {
  const std::string folder = dir.path() + "/C";
  // A folder in the target's place: the content is written, the rename refused.
  std::filesystem::create_directories(folder + "/taken/inner");
  EXPECT_NE(ReplaceFileDurably(folder + "/taken", "x"), 0);
  EXPECT_TRUE(std::filesystem::is_directory(folder + "/taken/inner"));
  EXPECT_EQ(Names(folder), std::vector<std::string>{"taken"});

  struct Case {
    std::string windowsPath;
    std::string message;
  } cases[] = {
      {"C:\\missing\\list.txt",
       "Cannot create file \"C:\\missing\\list.txt\". No such file or directory"},
      {"C:\\taken", "Cannot create file \"C:\\taken\". Is a directory"},
      {std::string("C:\\a\0b", 6), "Cannot create file \"C:\\a"},
  };
  for (const auto& c : cases) {
    try {
      ReplaceWholeFile(c.windowsPath, "x");
      ADD_FAILURE() << c.windowsPath << ": no failure";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()).substr(0, c.message.size()), c.message) << c.windowsPath;
      EXPECT_EQ(e.kind(), "EFCreateError");
    }
  }
  EXPECT_EQ(Names(folder), std::vector<std::string>{"taken"});
}

// A folder the writer may not change, holding one file the writer may write (an export file
// made for the web server's user): that file is rewritten in place, keeping its owner, mode and
// inode; any other name in the folder is still refused, and nothing is left beside.
TEST_F(ReplaceFile, AFolderOfOthersTakesTheOneFileGivenToTheWriter) {
  const std::string folder = dir.path() + "/C";
  testing::WriteFile(folder + "/given.txt", "old content that is longer than the new");
  testing::WriteFile(folder + "/others.txt", "kept");
  ::chmod((folder + "/others.txt").c_str(), 0444);
  std::filesystem::create_directory(folder + "/sub");
  ::symlink("given.txt", (folder + "/link.txt").c_str());
  // Root ignores permission bits: the writer is then "nobody", who owns only the given file.
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown((folder + "/given.txt").c_str(), 65534, 65534), 0);
  }
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
  struct stat before {};
  ASSERT_EQ(::stat((folder + "/given.txt").c_str(), &before), 0);

  struct Case {
    std::string name;
    int err;
  } cases[] = {{"given.txt", 0},
               {"others.txt", EACCES},
               {"missing.txt", EACCES},
               {"link.txt", EACCES},
               {"sub", EISDIR}};
  for (const Case& c : cases) {
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      if (root && (::setgid(65534) != 0 || ::setuid(65534) != 0)) _exit(126);
      if (!root) ::chmod(folder.c_str(), 0555);
      int err = ReplaceFileDurably(folder + "/" + c.name, "new");
      (void)!::write(pipeEnds[1], &err, sizeof err);
      _exit(0);
    }
    ::close(pipeEnds[1]);
    int err = -1;
    EXPECT_EQ(::read(pipeEnds[0], &err, sizeof err), static_cast<ssize_t>(sizeof err));
    ::close(pipeEnds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(err, c.err) << c.name << ": " << std::strerror(err);
  }
  EXPECT_EQ(testing::ReadFile(folder + "/given.txt"), "new");
  EXPECT_EQ(testing::ReadFile(folder + "/others.txt"), "kept");
  struct stat after {};
  ASSERT_EQ(::stat((folder + "/given.txt").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_mode, before.st_mode);
  EXPECT_EQ(Names(folder),
            (std::vector<std::string>{"given.txt", "link.txt", "others.txt", "sub"}));
}

TEST_F(ReplaceFile, FailureTextsNameTheFullWindowsPath) {
  struct Case {
    Error error;
    std::string message, kind;
  } cases[] = {
      {CannotOpenFile("C:\\a\\..\\b.ini", ENOENT),
       "Cannot open file \"C:\\b.ini\". No such file or directory", "EFOpenError"},
      {CannotCreateFile("\\tabela.txt", EACCES),
       "Cannot create file \"C:\\tabela.txt\". Permission denied", "EFCreateError"},
      {CannotOpenFolder("D:\\mods", ENOTDIR), "Cannot open folder \"D:\\mods\". Not a directory",
       "EInOutError"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.error.what(), c.message);
    EXPECT_EQ(c.error.kind(), c.kind) << c.message;
  }
}

}  // namespace
}  // namespace kvo::platform
