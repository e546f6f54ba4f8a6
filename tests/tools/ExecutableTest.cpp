#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <regex>

#include "tests/tools/ServiceFixture.h"

namespace refservice::testing {
namespace {

// ov-refservice run as a child process, its standard output on a pipe.
class Child {
 public:
  explicit Child(std::vector<std::string> arguments) {
    // Everything the child needs is made before fork(): in a process with
    // threads, only async-signal-safe calls are allowed between fork and exec.
    arguments.insert(arguments.begin(), OV_REFSERVICE_EXECUTABLE);
    std::vector<char*> argv;
    for (auto& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    int pipeFds[2];
    EXPECT_EQ(::pipe(pipeFds), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(pipeFds[1], STDOUT_FILENO);
      ::close(pipeFds[0]);
      ::close(pipeFds[1]);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(pipeFds[1]);
    output_ = ::fdopen(pipeFds[0], "r");
  }
  ~Child() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (output_ != nullptr) std::fclose(output_);
  }

  std::string readLine() {
    char line[4096];
    return std::fgets(line, sizeof line, output_) != nullptr ? std::string(line) : std::string();
  }
  void signal(int number) { ::kill(pid_, number); }
  int wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  bool exited_ = false;
  std::FILE* output_ = nullptr;
};

class ExecutableTest : public SandboxTest {
 protected:
  std::string postTo(int port, const std::string& caFile, const std::string& endpoint) {
    httplib::SSLClient c("127.0.0.1", port);
    c.set_ca_cert_path(caFile.c_str());
    c.enable_server_certificate_verification(true);
    const auto result =
        c.Post(("/prog/util/downloader/" + endpoint).c_str(), "SR=1", "application/x-www-form-urlencoded");
    return result ? result->body : "no answer";
  }
};

TEST_F(ExecutableTest, AnnouncesItselfAnswersReloadsAndStopsOnSigterm) {
  const auto state = folder_ / "exe-state";
  const auto scenarioFile = folder_ / "scenario.txt";
  writeFile(scenarioFile, "heartbeat = 45\n");
  Child child({"--installers", (folder_ / "installers").string(), "--state-dir", state.string(), "--scenario",
               scenarioFile.string(), "--link", "error-000"});

  const auto line = child.readLine();
  std::smatch match;
  ASSERT_TRUE(std::regex_match(line, match,
                               std::regex(R"(listening https://127\.0\.0\.1:(\d+) ca=(\S+) record=(\S+)\n)")))
      << line;
  const int port = std::stoi(match[1]);
  EXPECT_EQ(match[2].str(), (state / "ca.pem").string());
  EXPECT_EQ(match[3].str(), (state / "requests.jsonl").string());
  EXPECT_EQ(readFile(state / "port"), std::to_string(port) + "\n");

  EXPECT_EQ(postTo(port, match[2], "get-link.jsp"), "ERROR: 000\r\n");
  EXPECT_EQ(postTo(port, match[2], "heartbeat.jsp"), "45");

  writeFile(scenarioFile, "heartbeat = 60\n");
  child.signal(SIGHUP);
  std::string heartbeat;
  for (int i = 0; i < 100 && heartbeat != "60"; ++i) {
    heartbeat = postTo(port, match[2], "heartbeat.jsp");
    if (heartbeat != "60") std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(heartbeat, "60");
  // The flags still apply over the reloaded file.
  EXPECT_EQ(postTo(port, match[2], "get-link.jsp"), "ERROR: 000\r\n");

  child.signal(SIGTERM);
  EXPECT_EQ(child.wait(), 0);
  EXPECT_FALSE(std::filesystem::exists(state / "port"));
  EXPECT_NE(readFile(state / "requests.jsonl").find("\"path\":\"/prog/util/downloader/heartbeat.jsp\""),
            std::string::npos);
}

TEST_F(ExecutableTest, ABadFlagExitsWithUsageStatus) {
  Child child({"--no-such-flag", "1"});
  EXPECT_EQ(child.readLine(), "");
  EXPECT_EQ(child.wait(), 2);
}

}  // namespace
}  // namespace refservice::testing
