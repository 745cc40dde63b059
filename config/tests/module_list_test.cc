// The module list: describing module libraries, walking module trees (sub-folders, hidden
// entries, read-only folders, symbolic links), the stored list, and the failures, end to end.
#include "config/modules.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "configfiles/scramble.h"
#include "platform/error.h"
#include "tests/support/cgi_runner.h"
#include "tests/support/processes.h"

namespace kvo::config {
namespace {

namespace fs = std::filesystem;

std::string Module(const std::string& name) {
  return std::string(KVO_TEST_MODULES) + "/" + name + ".dll";
}

TEST(DescribeModule, AnswersOfTheInterface) {
  struct Case {
    std::string path;
    std::string expected;
  } cases[] = {
      {Module("till"), "Till|3|7"},
      {Module("accents"),
       "Vendas \x96 M\xF3"
       "dulo L\xF3"
       "dz ?|-1|2147483647"},
      {Module("noselect"), "Desconhecido|0|0"},
      {Module("nulldesc"), "Desconhecido|0|0"},
      {std::string(KVO_TEST_MODULES) + "/missing.dll", "Desconhecido|0|0"},
      {"/etc/hostname", "Desconhecido|0|0"},
      {"till.dll", "Desconhecido|0|0"},  // never looked for in the system's library folders
      {Module("crash"), "Desconhecido|0|0"},
      {Module("noisy"), "Noisy|4|2"},
  };
  for (const auto& c : cases) EXPECT_EQ(DescribeModule(c.path), c.expected) << c.path;
  // Loading, asking and unloading again gives the same answer: nothing is left behind.
  EXPECT_EQ(DescribeModule(Module("till")), "Till|3|7");
  EXPECT_EQ(DescribeModuleInProcess(Module("till")), "Till|3|7");
}

TEST(DescribeModule, AModuleThatNeverAnswersCostsItsLineOnly) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(DescribeModule(Module("hang"), std::chrono::milliseconds(300)), "Desconhecido|0|0");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

class ModuleTree : public ::testing::Test {
 protected:
  void SetUp() override { setenv("KVO_DRIVES", drives.path().c_str(), 1); }
  void TearDown() override {
    unsetenv("KVO_DRIVES");
    // Read-only folders must be writable again for the TempDir to go.
    for (auto it = fs::recursive_directory_iterator(drives.path(),
                                                    fs::directory_options::skip_permission_denied);
         it != fs::recursive_directory_iterator(); ++it)
      if (it->is_directory() && !it->is_symlink())
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add);
  }
  std::string Host(const std::string& relative) { return drives.path() + "/C/" + relative; }
  void Put(const std::string& relative, const std::string& bytes = "x") {
    testing::WriteFile(Host(relative), bytes);
  }
  void PutModule(const std::string& relative, const std::string& module) {
    fs::create_directories(fs::path(Host(relative)).parent_path());
    fs::copy_file(Module(module), Host(relative));
  }
  void WriteConfig(const std::string& text) { Put("KVO/KVO.Net/Config/KVO.Extranet.Config", text); }
  // The unscrambled body and the status line of /listakvomodulos.
  std::pair<std::string, std::string> Request() {
    auto r = testing::PostCgi("/listakvomodulos", "", {{"REMOTE_HOST", "client.example"}});
    const std::string status = r.output.substr(0, r.output.find("\r\n"));
    // Failures are answered by the error page, which is not scrambled.
    return {status, status == "Status: 200 OK" ? ScrambleText(r.Body(), kScrambleKey) : r.Body()};
  }
  // Names in a folder in the file system's order.
  std::vector<std::string> Listing(const std::string& relative) {
    std::vector<std::string> names;
    DIR* d = opendir(Host(relative).c_str());
    while (const dirent* e = d ? readdir(d) : nullptr) names.push_back(e->d_name);
    if (d) closedir(d);
    return names;
  }
  testing::TempDir drives;
  const std::string root =
      "C:\\KVO\\KVO.Net\\M\xF3"
      "dulos";
  const std::string listFile = Host("KVO/KVO.Net/Config/KVO.LM");
};

TEST_F(ModuleTree, WalksTheTreeAndStoresTheList) {
  const std::string m =
      "KVO/KVO.Net/M\xC3\xB3"
      "dulos/";
  fs::create_directories(Host("KVO/KVO.Net/Config"));
  Put(m + "notes.txt");
  Put(m + "LEIAME");
  PutModule(m + "Modulo.DLL", "till");
  Put(m + "fake.dll", "not a library");
  PutModule(m + "semselect.Dll", "noselect");
  PutModule(m + "falha.dll", "crash");
  PutModule(m + "ruidoso.dll", "noisy");
  Put(m + ".escondido.txt");
  Put(m + ".oculta/dentro.txt");
  Put(m + "Vendas/b.txt");
  PutModule(m + "Vendas/Caixa.dll", "accents");
  PutModule(m + "Vendas/Fundo/whereami.dll", "whereami");
  Put(m + "Vendas/Fundo/c.txt");
  Put(m + "Somente leitura/d.txt");
  fs::permissions(Host(m + "Somente leitura"),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  fs::create_directory_symlink("..", Host(m + "Vendas/volta"));  // a loop if it were entered
  fs::create_directory_symlink("/", Host(m + "raiz"));
  fs::create_symlink("notes.txt", Host(m + "atalho.txt"));
  Put(m + "Pre\xC3\xA7os \xE4\xB8\xAD.txt");  // "Preços 中.txt"

  // What the walk must give, in the file system's order within each folder.
  std::map<std::string, std::string> tails = {
      {"notes.txt", "notes.txt|0|0"},
      {"LEIAME", "LEIAME|0|0"},
      {"Modulo.DLL", "Till|3|7"},
      {"fake.dll", "Desconhecido|0|0"},
      {"semselect.Dll", "Desconhecido|0|0"},
      {"falha.dll", "Desconhecido|0|0"},
      {"ruidoso.dll", "Noisy|4|2"},
      {"atalho.txt", "atalho.txt|0|0"},
      {"Pre\xC3\xA7os \xE4\xB8\xAD.txt", "Pre\xE7os ?.txt|0|0"},
      {"b.txt", "b.txt|0|0"},
      {"Caixa.dll",
       "Vendas \x96 M\xF3"
       "dulo L\xF3"
       "dz ?|-1|2147483647"},
      {"whereami.dll", "Fundo|0|0"},
      {"c.txt", "c.txt|0|0"},
  };
  auto filesOf = [&](const std::string& folder, const std::string& windowsFolder) {
    std::vector<std::string> lines;
    for (const auto& name : Listing(folder))
      if (tails.count(name))
        lines.push_back(windowsFolder + "\\" +
                        (name == "Pre\xC3\xA7os \xE4\xB8\xAD.txt" ? "Pre\xE7os ?.txt" : name) +
                        "|" + tails[name]);
    return lines;
  };
  std::vector<std::string> expected;
  for (const auto& l : filesOf(m + "Vendas/Fundo", root + "\\Vendas\\Fundo")) expected.push_back(l);
  for (const auto& l : filesOf(m + "Vendas", root + "\\Vendas")) expected.push_back(l);
  for (const auto& l : filesOf(m, root)) expected.push_back(l);
  ASSERT_EQ(expected.size(), tails.size());
  std::string joined;
  for (const auto& l : expected) joined += l + "\r\n";

  auto [status, body] = Request();
  EXPECT_EQ(status, "Status: 200 OK");
  EXPECT_EQ(body, joined);
  EXPECT_EQ(testing::ReadFile(listFile), joined);

  // From now on the stored list is served, even with the tree gone, and edits show.
  fs::remove_all(Host(m));
  EXPECT_EQ(Request().second, joined);
  testing::WriteFile(listFile, "C:\\x\\a.dll|A|1|2\nsegunda");
  EXPECT_EQ(Request(), std::make_pair(std::string("Status: 200 OK"),
                                      std::string("C:\\x\\a.dll|A|1|2\r\nsegunda\r\n")));
}

// Links that lead nowhere are listed like files; a module that leaves a process running
// behind it is answered as soon as it has answered; names that are not UTF-8 at their shortest
// show "?" for each byte.
TEST_F(ModuleTree, BrokenLinksAndModulesThatLeaveProcessesBehind) {
  const std::string m =
      "KVO/KVO.Net/M\xC3\xB3"
      "dulos/";
  fs::create_directories(Host("KVO/KVO.Net/Config"));
  fs::create_directories(Host(m + "Sub"));
  fs::create_symlink("nowhere.txt", Host(m + "quebrado.txt"));
  fs::create_symlink("laco", Host(m + "laco"));
  fs::create_symlink("nowhere.dll", Host(m + "Sub/perdido.dll"));
  PutModule(m + "Sub/fundo.dll", "spawner");
  Put(m + "Sub/\xC0\xAE\xC0\xAE");
  std::map<std::string, std::string> tails = {
      {"quebrado.txt", "quebrado.txt|0|0"}, {"laco", "laco|0|0"},
      {"perdido.dll", "Desconhecido|0|0"},  {"fundo.dll", "Spawner|5|6"},
      {"\xC0\xAE\xC0\xAE", "????|0|0"},
  };
  std::string expected;
  for (const std::string folder : {"Sub", ""})
    for (const auto& name : Listing(m + folder))
      if (tails.count(name))
        expected += root + (folder.empty() ? "" : "\\" + folder) + "\\" +
                    (name[0] == '\xC0' ? "????" : name) + "|" + tails[name] + "\r\n";

  const std::string marker = "KVO_TEST_MARKER=modules-" + std::to_string(getpid());
  auto r = testing::PostCgi("/listakvomodulos", "",
                            {{"REMOTE_HOST", "client.example"},
                             {"KVO_TEST_MARKER", marker.substr(marker.find('=') + 1)}});
  EXPECT_EQ(r.output.substr(0, r.output.find("\r\n")), "Status: 200 OK");
  EXPECT_EQ(ScrambleText(r.Body(), kScrambleKey), expected);
  EXPECT_EQ(testing::ReadFile(listFile), expected);
  // The module's helper outlives the request (it is the module's); it was not waited for.
  for (pid_t pid : testing::ProcessesWith(marker)) kill(pid, SIGKILL);
  fs::remove(Host(m + "laco"));  // the clean-up's walk would stumble on the loop
}

TEST_F(ModuleTree, ConfiguredPathsAndAnEmptyRoot) {
  WriteConfig("[kvo.net]\nPathModulos=D:\\Mods\nLisModules=D:\\Lista\\mods.txt\n");
  fs::create_directories(drives.path() + "/D/Mods");
  fs::create_directories(drives.path() + "/D/Lista");
  auto first = Request();
  EXPECT_EQ(first, std::make_pair(std::string("Status: 200 OK"), std::string()));
  EXPECT_TRUE(fs::is_regular_file(drives.path() + "/D/Lista/mods.txt"));
  EXPECT_EQ(testing::ReadFile(drives.path() + "/D/Lista/mods.txt"), "");
  // The empty list is served as it is: files added to the tree later do not show.
  testing::WriteFile(drives.path() + "/D/Mods/a.txt", "x");
  EXPECT_EQ(Request().second, "");
  // Nothing else was written beside the list.
  EXPECT_EQ(
      std::distance(fs::directory_iterator(drives.path() + "/D/Lista"), fs::directory_iterator()),
      1);
}

TEST_F(ModuleTree, FailuresWriteNoList) {
  // A missing root.
  auto [status, body] = Request();
  EXPECT_EQ(status, "Status: 500 Internal Server Error");
  EXPECT_NE(body.find("<p>Cannot open folder \"" + root + "\". No such file or directory\r\n"),
            std::string::npos)
      << body;
  EXPECT_FALSE(fs::exists(listFile));
  // The list's folder does not exist: the scan runs, the list cannot be created.
  Put("KVO/KVO.Net/M\xC3\xB3"
      "dulos/a.txt");
  WriteConfig("[KVO.Net]\nLisModules=C:\\Nowhere\\KVO.LM\n");
  auto r = testing::PostCgi("/listakvomodulos", "");
  EXPECT_EQ(r.output.substr(0, 35), "Status: 500 Internal Server Error\r\n");
  EXPECT_NE(r.Body().find("<p>Cannot create file \"C:\\Nowhere\\KVO.LM\". No such file or "
                          "directory\r\n"),
            std::string::npos)
      << r.Body();
  // The list path is a folder: it is no list file, and it cannot be replaced by one.
  WriteConfig("[KVO.Net]\nLisModules=C:\\KVO\n");
  EXPECT_EQ(Request().first, "Status: 500 Internal Server Error");
}

TEST_F(ModuleTree, ScanRestoresTheCurrentDirectory) {
  const std::string before = fs::current_path();
  Put("M/S/a.txt");
  EXPECT_EQ(ScanModules("C:\\M"), "C:\\M\\S\\a.txt|a.txt|0|0\r\n");
  EXPECT_EQ(fs::current_path(), before);
  EXPECT_THROW(ScanModules("C:\\Missing"), Error);
  EXPECT_EQ(fs::current_path(), before);
  // A relative root names the same place at every depth.
  fs::current_path(Host(""));
  EXPECT_EQ(ScanModules("M"), "M\\S\\a.txt|a.txt|0|0\r\n");
  fs::current_path(before);
}

// Runs the CGI program as the unprivileged user "nobody", for whom permission bits count.
testing::CgiResult RunAsNobody(const std::map<std::string, std::string>& env) {
  int out[2];
  if (pipe(out) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    close(out[0]);
    dup2(out[1], 1);
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(126);
    std::vector<std::string> storage;
    for (const auto& [k, v] : env) storage.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : storage) envp.push_back(s.data());
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(KVO_SERVER_BINARY), nullptr};
    execve(KVO_SERVER_BINARY, argv, envp.data());
    _exit(127);
  }
  close(out[1]);
  testing::CgiResult r;
  char buffer[4096];
  ssize_t n;
  while ((n = read(out[0], buffer, sizeof buffer)) > 0) r.output.append(buffer, n);
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

TEST_F(ModuleTree, UnreachableFoldersAsAnUnprivilegedUser) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to switch to the user nobody";
  if (!getpwnam("nobody")) GTEST_SKIP() << "there is no user nobody";
  fs::permissions(drives.path(), fs::perms::all, fs::perm_options::add);
  Put("M/ok.txt");
  PutModule("M/privado.dll", "till");
  fs::permissions(Host("M/privado.dll"), fs::perms::owner_read | fs::perms::owner_write,
                  fs::perm_options::replace);
  Put("KVO/KVO.Net/Config/KVO.Extranet.Config",
      "[KVO.Net]\nPathModulos=C:\\M\nLisModules=C:\\L\\KVO.LM\n");
  fs::create_directories(Host("L"));
  for (const auto& p : fs::recursive_directory_iterator(drives.path()))
    if (p.is_directory()) fs::permissions(p.path(), fs::perms::all, fs::perm_options::replace);
  fs::permissions(Host("L"), fs::perms::all, fs::perm_options::replace);
  const std::map<std::string, std::string> env = {{"PATH_INFO", "/listakvomodulos"},
                                                  {"SERVER_PROTOCOL", "HTTP/1.1"},
                                                  {"KVO_DRIVES", drives.path()}};

  // A sub-folder the user cannot enter (its owner, root, may write it: it is no read-only
  // folder, so the walk must go in) fails the whole scan.
  Put("M/Fechada/x.txt");
  fs::permissions(Host("M/Fechada"), fs::perms::owner_all, fs::perm_options::replace);
  auto r = RunAsNobody(env);
  EXPECT_EQ(r.output.substr(0, 35), "Status: 500 Internal Server Error\r\n") << r.output;
  EXPECT_NE(r.output.find("Cannot open folder \"C:\\M\\Fechada\". Permission denied"),
            std::string::npos)
      << r.output;
  EXPECT_FALSE(fs::exists(Host("L/KVO.LM")));
  // The root itself unreachable.
  fs::permissions(Host("M"), fs::perms::owner_all, fs::perm_options::replace);
  r = RunAsNobody(env);
  EXPECT_NE(r.output.find("Cannot open folder \"C:\\M\". Permission denied"), std::string::npos)
      << r.output;
  EXPECT_FALSE(fs::exists(Host("L/KVO.LM")));

  // With the closed folder gone, the unreadable library is "Desconhecido" and the scan goes on.
  fs::permissions(Host("M"), fs::perms::all, fs::perm_options::replace);
  fs::remove_all(Host("M/Fechada"));
  r = RunAsNobody(env);
  EXPECT_EQ(r.output.substr(0, 16), "Status: 200 OK\r\n") << r.output;
  std::string lines = ScrambleText(r.Body(), kScrambleKey);
  EXPECT_NE(lines.find("C:\\M\\privado.dll|Desconhecido|0|0\r\n"), std::string::npos) << lines;
  EXPECT_NE(lines.find("C:\\M\\ok.txt|ok.txt|0|0\r\n"), std::string::npos) << lines;
  EXPECT_EQ(testing::ReadFile(Host("L/KVO.LM")), lines);

  // A stored list the user may not read is a failure, not a reason to scan again.
  fs::permissions(Host("L/KVO.LM"), fs::perms::owner_read | fs::perms::owner_write,
                  fs::perm_options::replace);
  ASSERT_EQ(chown(Host("L/KVO.LM").c_str(), 0, 0), 0);
  r = RunAsNobody(env);
  EXPECT_EQ(r.output.substr(0, 35), "Status: 500 Internal Server Error\r\n") << r.output;
  EXPECT_NE(r.output.find("<p>Cannot open file \"C:\\L\\KVO.LM\". Permission denied\r\n"),
            std::string::npos)
      << r.output;
}

}  // namespace
}  // namespace kvo::config
