// The statement log without a database: time stamps, rotation, failures that are ignored.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "configfiles/paths.h"
#include "configfiles/text_lines.h"
#include "dataservice/statement_log.h"
#include "tests/support/cgi_runner.h"

namespace kvo::dataservice {
namespace {

class StatementLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("KVO_DRIVES", drives_.path().c_str(), 1);
    folder_ = drives_.path() + "/C/KVO/KVO.Net/Logs/";
  }
  std::vector<std::string> RotatedCopies() {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(folder_))
      if (e.path().filename().string().rfind("Log_", 0) == 0) out.push_back(e.path());
    return out;
  }
  testing::TempDir drives_;
  std::string folder_;
};

TEST_F(StatementLogTest, TimeStamps) {
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ("09/03/2021 07:05:04", StatementLog::EntryStamp(1615273504));
  EXPECT_EQ("2021_03_09_07_05_04", StatementLog::RotationStamp(1615273504));
}

TEST_F(StatementLogTest, AppendsToTheLogAndRotatesAt5000Lines) {
  for (size_t lines : {size_t{0}, size_t{4998}, size_t{5000}, size_t{7000}}) {
    SCOPED_TRACE(lines);
    std::filesystem::remove_all(folder_);
    config::TextLines old(lines, "01/01/2020 00:00:00 - old");
    testing::WriteFile(folder_ + "Log.txt", config::JoinLines(old));
    StatementLog log(config::kStatementLog);
    log.Add("select 1\r\nfrom x");
    log.Add("message");
    log.Save();
    config::TextLines now = config::SplitLines(testing::ReadFile(folder_ + "Log.txt"));
    bool rotated = lines >= StatementLog::kRotateAt;
    EXPECT_EQ((rotated ? 0 : lines) + 3, now.size());
    EXPECT_EQ(" - message", now.back().substr(19));
    std::vector<std::string> copies = RotatedCopies();
    ASSERT_EQ(rotated ? 1u : 0u, copies.size());
    if (rotated) {
      EXPECT_EQ(config::JoinLines(old), testing::ReadFile(copies[0]));
    }
    // Nothing of the merge is left behind but the lock file.
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(folder_)) {
      (void)e;
      ++files;
    }
    EXPECT_EQ(2u + copies.size(), files);
  }
}

TEST_F(StatementLogTest, ANulByteInAnEntryLosesNothing) {
  std::filesystem::create_directories(folder_);
  for (std::string text : {std::string("select '\0' from x", 17), std::string("next")}) {
    StatementLog log(config::kStatementLog);
    log.Add(text);
    log.Save();
  }
  std::string bytes = testing::ReadFile(folder_ + "Log.txt");
  EXPECT_NE(std::string::npos, bytes.find(std::string("select '\0' from x\r\n", 19)));
  EXPECT_EQ(" - next\r\n", bytes.substr(bytes.size() - 9));
}

// A request saves what it has before its answer goes out and saves again at its end: each
// entry reaches the file exactly once.
TEST_F(StatementLogTest, ASecondSaveAppendsOnlyTheNewEntries) {
  std::filesystem::create_directories(folder_);
  StatementLog log(config::kStatementLog);
  log.Add("select 1 from x");
  log.Save();
  log.Save();
  log.Add("a failure");
  log.Save();
  config::TextLines now = config::SplitLines(testing::ReadFile(folder_ + "Log.txt"));
  ASSERT_EQ(2u, now.size());
  EXPECT_EQ(" - select 1 from x", now[0].substr(19));
  EXPECT_EQ(" - a failure", now[1].substr(19));
}

// A log that is a FIFO or a device is neither waited on nor read nor replaced.
TEST_F(StatementLogTest, ANonRegularLogIsLeftAlone) {
  std::filesystem::create_directories(folder_);
  ASSERT_EQ(mkfifo((folder_ + "fifo").c_str(), 0666), 0);
  for (const char* target : {"fifo", "/dev/zero", "/dev/null"}) {
    SCOPED_TRACE(target);
    std::filesystem::remove(folder_ + "Log.txt");
    std::filesystem::create_symlink(target, folder_ + "Log.txt");
    StatementLog log(config::kStatementLog);
    log.Add("select 1 from rdb$database");
    log.Save();
    EXPECT_TRUE(std::filesystem::is_symlink(folder_ + "Log.txt"));
  }
}

// A writer that died mid-line left a partial last line: the next one ends it before its own
// entries, which start lines of their own.
TEST_F(StatementLogTest, APartialLastLineIsEndedFirst) {
  struct Case {
    std::string old, joint;
  } cases[] = {
      {"", ""},
      {"01/01/2020 00:00:00 - whole\r\n", ""},
      {"01/01/2020 00:00:00 - whole\r\n01/01/2020 00:00:00 - hal", "\r\n"},
      {"01/01/2020 00:00:00 - cut after CR\r", "\n"},
      {"01/01/2020 00:00:00 - LF only\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.old);
    std::filesystem::remove_all(folder_);
    testing::WriteFile(folder_ + "Log.txt", c.old);
    StatementLog log(config::kStatementLog);
    log.Add("next");
    log.Save();
    // The old bytes, the joint, then one whole stamped entry.
    const std::string bytes = testing::ReadFile(folder_ + "Log.txt");
    const std::string head = c.old + c.joint;
    ASSERT_EQ(head.size() + 19 + 9, bytes.size()) << bytes;
    EXPECT_EQ(head, bytes.substr(0, head.size()));
    EXPECT_EQ(" - next\r\n", bytes.substr(head.size() + 19));
  }
}

// The line count that decides rotation is remembered between requests and taken afresh when
// somebody else changed the log (other size, other file, a damaged record).
TEST_F(StatementLogTest, TheRememberedCountFollowsChangesByOthers) {
  auto save = [] {
    StatementLog log(config::kStatementLog);
    log.Add("entry");
    log.Save();
  };
  auto lines = [&] { return config::SplitLines(testing::ReadFile(folder_ + "Log.txt")).size(); };
  // Counted once, then remembered: the third save finds 5000 lines and rotates.
  testing::WriteFile(folder_ + "Log.txt", config::JoinLines(config::TextLines(4998, "old")));
  save();
  save();
  EXPECT_EQ(5000u, lines());
  EXPECT_TRUE(RotatedCopies().empty());
  save();
  EXPECT_EQ(1u, lines());
  EXPECT_EQ(1u, RotatedCopies().size());

  // Replaced by a file of the same size holding one line: counted again, not rotated.
  std::filesystem::remove_all(folder_);
  testing::WriteFile(folder_ + "Log.txt", config::JoinLines(config::TextLines(4999, "old")));
  save();
  const std::string replaced =
      std::string(std::filesystem::file_size(folder_ + "Log.txt") - 2, 'x') + "\r\n";
  testing::WriteFile(folder_ + "other", replaced);
  std::filesystem::rename(folder_ + "other", folder_ + "Log.txt");
  save();
  EXPECT_EQ(2u, lines());
  EXPECT_TRUE(RotatedCopies().empty());

  // Trimmed in place by an administrator, or a record that makes no sense: counted again.
  testing::WriteFile(folder_ + "Log.txt", config::JoinLines(config::TextLines(4999, "old")));
  testing::WriteFile(folder_ + "Log.lck", "garbage");
  save();
  EXPECT_EQ(5000u, lines());
  EXPECT_TRUE(RotatedCopies().empty());
}

TEST_F(StatementLogTest, AMissingFolderIsIgnored) {
  StatementLog log(config::kStatementLog);
  log.Add("select 1 from rdb$database");
  log.Save();
  EXPECT_FALSE(std::filesystem::exists(folder_));
}

// An entry is bounded: a 30 MB statement (refused by the database server) would otherwise be
// logged whole, and a few such requests fill the disk.
TEST_F(StatementLogTest, AnOverLongTextIsLoggedByItsStartAndLength) {
  std::filesystem::create_directories(folder_);
  const size_t max = StatementLog::kMaxStatementBytes;
  for (size_t size : {max, max + 1, size_t{30} << 20}) {
    SCOPED_TRACE(size);
    std::filesystem::remove(folder_ + "Log.txt");
    StatementLog log(config::kStatementLog);
    log.Add(std::string(size, 'x'));
    log.Save();
    const std::string entry = testing::ReadFile(folder_ + "Log.txt").substr(22);
    const std::string tail =
        size > max ? " [... " + std::to_string(size) + " bytes in all]\r\n" : "\r\n";
    EXPECT_EQ(entry, std::string(std::min(size, max), 'x') + tail);
  }
}

// Rotated copies are bounded by LogCopies: the newest are kept, the others deleted at the
// rotation; without the setting every copy stays. Files that only look alike are left alone.
TEST_F(StatementLogTest, RotationKeepsTheNewestCopies) {
  const std::vector<std::string> old = {
      "Log_2020_01_01_00_00_00.txt", "Log_2021_06_30_12_00_00.txt", "Log_2019_12_31_23_59_59.txt"};
  for (std::optional<int32_t> keep :
       {std::optional<int32_t>(), std::optional<int32_t>(2), std::optional<int32_t>(0)}) {
    SCOPED_TRACE(keep ? std::to_string(*keep) : "unset");
    std::filesystem::remove_all(folder_);
    for (const std::string& name : old) testing::WriteFile(folder_ + name, "old\r\n");
    testing::WriteFile(folder_ + "Log_notes.txt", "mine\r\n");
    testing::WriteFile(folder_ + "Log.txt",
                       config::JoinLines(config::TextLines(StatementLog::kRotateAt, "line")));
    StatementLog log(config::kStatementLog, keep);
    log.Add("select 1");
    log.Save();
    std::vector<std::string> copies;
    for (const auto& e : std::filesystem::directory_iterator(folder_))
      copies.push_back(e.path().filename());
    std::sort(copies.begin(), copies.end());
    // The copy just made carries today's date: it sorts after every old one.
    std::vector<std::string> expected = {"Log.lck", "Log.txt", "Log_notes.txt"};
    if (!keep) {
      expected.insert(expected.end(), {old[2], old[0], old[1]});
    } else if (*keep == 2) {
      expected.push_back(old[1]);
    }
    std::sort(expected.begin(), expected.end());
    const size_t made = !keep || *keep > 0 ? 1 : 0;
    ASSERT_EQ(copies.size(), expected.size() + made);
    size_t j = 0;
    for (const std::string& name : copies) {
      if (j < expected.size() && name == expected[j]) {
        ++j;
      } else {
        EXPECT_TRUE(name.starts_with("Log_20") && name > old[1]) << name;
      }
    }
    EXPECT_EQ(j, expected.size());
  }
}

// Statements carry data and logins: the log and its lock are not for every local user.
TEST_F(StatementLogTest, FilesAreForTheOwnerAndGroupOnly) {
  std::filesystem::create_directories(folder_);
  const mode_t old = umask(022);
  StatementLog log(config::kStatementLog);
  log.Add("alter user DEMO password 'demo'");
  log.Save();
  umask(old);
  for (const char* name : {"Log.txt", "Log.lck"}) {
    struct stat st {};
    ASSERT_EQ(stat((folder_ + name).c_str(), &st), 0) << name;
    EXPECT_EQ(st.st_mode & 0777, 0640u) << name;
  }
}

}  // namespace
}  // namespace kvo::dataservice
