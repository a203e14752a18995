// The kernel's confinement of the interpreter, tried the hard way: through the test build's
// hook the interpreter starts with -dNOSAFER, as if a document had defeated SAFER, and hostile
// documents try to reach beyond their pages. Confined, every attempt fails; unconfined, the
// same documents succeed, so each check would catch a hole.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/file_descriptor.h"
#include "renderer/gs_arguments.h"
#include "renderer/kernel_protections.h"
#include "renderer/render_session.h"
#include "renderer/tavrinx.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"

namespace orvalis::renderer {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// A listening socket the test owns; Contacted tells whether anyone connected.
class Listener {
 public:
  static Listener Tcp() {
    Listener listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    auto* generic = reinterpret_cast<sockaddr*>(&address);
    EXPECT_EQ(::bind(listener.fd_.Get(), generic, size), 0) << std::strerror(errno);
    EXPECT_EQ(::getsockname(listener.fd_.Get(), generic, &size), 0);
    listener.name_ = std::to_string(ntohs(address.sin_port));
    listener.Listen();
    return listener;
  }
  // An abstract Unix socket: a name without a file, the way local services are reached.
  static Listener Abstract() {
    Listener listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    listener.name_ =
        "orvalis-sandbox-test-" + std::to_string(::getpid()) + "-" + std::to_string(next_++);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, listener.name_.data(), listener.name_.size());
    const socklen_t size = offsetof(sockaddr_un, sun_path) + 1 + listener.name_.size();
    EXPECT_EQ(::bind(listener.fd_.Get(), reinterpret_cast<sockaddr*>(&address), size), 0)
        << std::strerror(errno);
    listener.Listen();
    return listener;
  }
  // The port, or the abstract name without its leading NUL.
  const std::string& Name() const { return name_; }
  bool Contacted() const {
    pollfd poll{fd_.Get(), POLLIN, 0};
    return ::poll(&poll, 1, 0) == 1;
  }

 private:
  explicit Listener(int fd) : fd_(fd) {}
  void Listen() { EXPECT_EQ(::listen(fd_.Get(), 4), 0) << std::strerror(errno); }

  FileDescriptor fd_;
  std::string name_;
  static inline int next_ = 0;
};

// A process outside the interpreter's group, for a document to try to kill.
class Bystander {
 public:
  Bystander() {
    char sleep[] = "/bin/sleep";
    char seconds[] = "infinity";  // it ends only when killed, however long a test runs
    char* argv[] = {sleep, seconds, nullptr};
    EXPECT_EQ(::posix_spawn(&pid_, sleep, nullptr, nullptr, argv, nullptr), 0);
  }
  ~Bystander() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  pid_t Pid() const { return pid_; }
  // Whether it was signalled: it has ended, or a signal waits for it to run again (the signal
  // was sent before the rendering returned, but on a busy machine the bystander may not have
  // run since).
  bool Killed() {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) return true;
    std::ifstream proc("/proc/" + std::to_string(pid_) + "/status");
    for (std::string line; std::getline(proc, line);) {
      if ((line.starts_with("SigPnd:") || line.starts_with("ShdPnd:")) &&
          line.find_first_not_of("0\t ", 7) != std::string::npos)
        return true;
    }
    return false;
  }

 private:
  pid_t pid_ = 0;
};

// Everything a document might go for: the user's files in a home folder (a secret, a file to
// delete, a program), a TCP listener on 127.0.0.1, an abstract Unix socket, a process.
struct Targets {
  TempDir home;
  TempDir pages;
  Listener tcp = Listener::Tcp();
  Listener local = Listener::Abstract();
  Bystander bystander;

  Targets() {
    test::WriteFileText(home.Path() / "secret.txt", "s");
    test::WriteFileText(home.Path() / "victim.txt", "precious");
    test::WriteFileText(home.Path() / "evil.sh", "#!/bin/sh\ntouch '" + pages.File("ran") + "'\n");
    fs::permissions(home.Path() / "evil.sh", fs::perms::owner_all);
  }
};

// One hostile document: PostScript run before a page is painted (`ok` true paints it black),
// and what shows that it got through.
struct Attack {
  const char* name;
  std::function<std::string(const Targets&)> postscript;
  std::function<bool(Targets&, const test::OracleImage&)> gotThrough;
  // Held by the system-call filter only: Landlock judges programs by their path, and a
  // program in memory has none.
  bool filterHolds = false;
};

// A command run through %pipe%; closing the pipe waits for it.
std::string ThroughPipe(const std::string& command) {
  return "{ (%pipe%" + command + ") (w) file closefile } stopped pop\n";
}

std::string Python(const std::string& code) {
  return "/usr/bin/python3 -c \"import socket; " + code + "\"";
}

const Attack kAttacks[] = {
    {"write a file outside the page folder",
     [](const Targets& t) {
       return "{ (" + t.home.File("made.txt") +
              ") (w) file dup (x) writestring closefile } stopped pop\n";
     },
     [](Targets& t, const test::OracleImage&) { return fs::exists(t.home.File("made.txt")); }},
    {"delete a file",
     [](const Targets& t) {
       return "{ (" + t.home.File("victim.txt") + ") deletefile } stopped pop\n";
     },
     [](Targets& t, const test::OracleImage&) { return !fs::exists(t.home.File("victim.txt")); }},
    {"read a file of the home folder",
     [](const Targets& t) {
       return "{ (" + t.home.File("secret.txt") +
              ") (r) file 1 string readstring pop (s) eq /ok exch def } stopped pop\n";
     },
     [](Targets&, const test::OracleImage& page) { return page.At(5, page.height - 5)[0] == 0; }},
    {"run a program of the home folder through %pipe%",
     [](const Targets& t) { return ThroughPipe(t.home.File("evil.sh")); },
     [](Targets& t, const test::OracleImage&) { return fs::exists(t.pages.File("ran")); }},
    {"connect to a TCP listener on 127.0.0.1",
     [](const Targets& t) {
       return ThroughPipe(Python("socket.create_connection(('127.0.0.1', " + t.tcp.Name() +
                                 "), timeout=5).sendall(b'x')"));
     },
     [](Targets& t, const test::OracleImage&) { return t.tcp.Contacted(); }},
    {"connect to an abstract Unix socket",
     [](const Targets& t) {
       return ThroughPipe(Python("s = socket.socket(socket.AF_UNIX); s.connect(chr(0) + '" +
                                 t.local.Name() + "'); s.sendall(b'x')"));
     },
     [](Targets& t, const test::OracleImage&) { return t.local.Contacted(); }},
    {"trace a process outside its group",
     [](const Targets& t) {
       return ThroughPipe("/usr/bin/python3 -c \"import ctypes; ctypes.CDLL(None).ptrace(16, " +
                          std::to_string(t.bystander.Pid()) + ", 0, 0) == 0 and open('" +
                          t.pages.File("traced") + "', 'w')\"");
     },
     [](Targets& t, const test::OracleImage&) { return fs::exists(t.pages.File("traced")); }},
    {"signal a process outside its group",
     [](const Targets& t) {
       return ThroughPipe("kill -TERM " + std::to_string(t.bystander.Pid()));
     },
     [](Targets& t, const test::OracleImage&) { return t.bystander.Killed(); }},
    {"run a program from memory (memfd_create, then execve of the descriptor)",
     [](const Targets& t) {
       return ThroughPipe(
           "/usr/bin/python3 -c \"import os; f = os.memfd_create('x'); "
           "os.write(f, open('/usr/bin/touch', 'rb').read()); "
           "os.execve(f, ['touch', '" +
           t.pages.File("ran-from-memory") + "'], {})\"");
     },
     [](Targets& t, const test::OracleImage&) {
       return fs::exists(t.pages.File("ran-from-memory"));
     },
     true},
    {"run a program through /proc/self/fd of a memfd",
     [](const Targets& t) {
       return ThroughPipe(
           "/usr/bin/python3 -c \"import os; f = os.memfd_create('x', 0); "
           "os.write(f, open('/usr/bin/touch', 'rb').read()); "
           "os.execv('/proc/self/fd/%d' % f, ['touch', '" +
           t.pages.File("ran-from-proc") + "'])\"");
     },
     [](Targets& t, const test::OracleImage&) { return fs::exists(t.pages.File("ran-from-proc")); },
     true},
};

std::string GhostscriptPath() {
  return FindProgramOnPath("gs").value_or("");
}

RenderSession::TestHook Unconfined(bool unconfined = true) {
  RenderSession::TestHook hook;
  hook.unconfined = unconfined;
  return hook;
}

RenderSession::TestHook ConfinedAsIn(const KernelProtections& kernel) {
  RenderSession::TestHook hook;
  hook.kernel = kernel;
  return hook;
}

// Runs `attack` with -dNOSAFER under `hook`; true when it got through.
bool RunAttack(const Attack& attack, RenderSession::TestHook hook) {
  Targets targets;
  const std::string document = targets.pages.File("attack.ps");
  test::WriteFileText(document, "%!PS\n/ok false def\n" + attack.postscript(targets) +
                                    "ok { 0 } { 1 } ifelse setgray 0 0 100 100 rectfill "
                                    "showpage\n");
  hook.withoutSafer = true;
  RenderSession session(GhostscriptPath());
  session.SetTestHook(hook);
  const int result =
      session.Render(document.c_str(), targets.pages.File("a_%03d.bmp").c_str(), 72, 72);
  EXPECT_EQ(result, TAVRINX_RENDER_SUCCEEDED) << attack.name << ": " << session.LastError();
  const std::optional<test::OracleImage> page = test::PillowDecode(targets.pages.File("a_001.bmp"));
  if (!page) {
    ADD_FAILURE() << attack.name << ": no page";
    return false;
  }
  return attack.gotThrough(targets, *page);
}

// Kernels that offer less than this one, each still holding every attack: each layer on its
// own, so that none hides a hole in another. Rows the kernel cannot give are skipped.
struct KernelCase {
  const char* name;
  KernelProtections kernel;
};
const KernelCase kHoldingKernels[] = {
    {"this kernel", ThisKernelProtections()},
    {"Landlock alone", {ThisKernelProtections().landlockAbi, false, false}},
    {"Landlock without scopes, seccomp, network namespace", {5, true, true}},
};

bool Offers(const KernelProtections& kernel) {
  const KernelProtections& real = ThisKernelProtections();
  return kernel.landlockAbi <= real.landlockAbi && (!kernel.syscallFilter || real.syscallFilter) &&
         (!kernel.networkNamespace || real.networkNamespace);
}

TEST(InterpreterSandbox, DocumentsThatDefeatSaferStillCannotReachBeyondTheirPages) {
  ASSERT_FALSE(GhostscriptPath().empty()) << "no gs on PATH";
  ASSERT_TRUE(ThisKernelProtections().LandlockScopes())
      << DescribeProtections(ThisKernelProtections());
  for (const Attack& attack : kAttacks) {
    EXPECT_TRUE(RunAttack(attack, Unconfined())) << attack.name << " fails even unconfined";
    for (const KernelCase& c : kHoldingKernels) {
      if (!Offers(c.kernel) || (attack.filterHolds && !c.kernel.syscallFilter)) continue;
      EXPECT_FALSE(RunAttack(attack, ConfinedAsIn(c.kernel)))
          << attack.name << " got through with " << c.name;
    }
  }
}

// A document of two pages painted in distinct colours, to see that it renders in full.
std::string TwoPages() {
  return "%!PS\n<< /PageSize [144 72] >> setpagedevice\n"
         "0.2 0 0 setrgbcolor 0 0 144 72 rectfill showpage\n"
         "0 0.4 0 setrgbcolor 0 0 144 72 rectfill showpage\n";
}

// Where the kernel lacks a protection the conversion still runs, with what is there.
TEST(InterpreterSandbox, KernelsThatOfferLessStillConvert) {
  const KernelCase cases[] = {
      {"nothing", {0, false, false}},
      {"Landlock 1", {1, false, false}},
      {"Landlock 3 and seccomp", {3, true, false}},
      {"Landlock 4 and a network namespace", {4, false, true}},
      {"seccomp alone", {0, true, false}},
  };
  TempDir dir;
  test::WriteFileText(dir.Path() / "two.ps", TwoPages());
  for (const KernelCase& c : cases) {
    if (!Offers(c.kernel)) continue;
    const fs::path pages = dir.Path() / c.name;
    fs::create_directory(pages);
    RenderSession session(GhostscriptPath());
    session.SetTestHook(ConfinedAsIn(c.kernel));
    EXPECT_EQ(session.Render(dir.File("two.ps").c_str(), (pages / "p_%03d.bmp").c_str(), 72, 72),
              TAVRINX_RENDER_SUCCEEDED)
        << c.name << ": " << session.LastError();
    const auto second = test::PillowDecode((pages / "p_002.bmp").string());
    ASSERT_TRUE(second) << c.name;
    EXPECT_NEAR(second->At(10, 10)[1], 102, 1) << c.name;
  }
}

// The sample documents (fonts, gradients, several pages) give the same bytes confined and not.
TEST(InterpreterSandbox, ConfinementLeavesThePagesAsTheyWere) {
  TempDir dir;
  int documents = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(ORVALIS_SAMPLES_DIR)) {
    if (entry.path().extension() != ".ps") continue;
    ++documents;
    std::vector<std::vector<uint8_t>> renderings[2];
    for (const bool unconfined : {false, true}) {
      const fs::path pages =
          dir.Path() / (entry.path().stem().string() + (unconfined ? "-u" : "-c"));
      fs::create_directory(pages);
      RenderSession session(GhostscriptPath());
      session.SetTestHook(Unconfined(unconfined));
      ASSERT_EQ(session.Render(entry.path().c_str(), (pages / "p_%03d.bmp").c_str(), 100, 100),
                TAVRINX_RENDER_SUCCEEDED)
          << entry.path() << ": " << session.LastError();
      std::vector<fs::path> files{fs::directory_iterator(pages), fs::directory_iterator()};
      std::sort(files.begin(), files.end());
      for (const fs::path& file : files)
        renderings[unconfined].push_back(test::ReadFileBytes(file));
    }
    EXPECT_FALSE(renderings[0].empty()) << entry.path();
    EXPECT_TRUE(renderings[0] == renderings[1]) << entry.path();
  }
  EXPECT_GT(documents, 0);
}

TEST(KernelProtections, SaysWhatIsActiveAndWhatIsMissing) {
  EXPECT_EQ(DescribeProtections({7, true, true}),
            "active: -dSAFER, private temporary folder, own process group, address-space cap, "
            "no new privileges, Landlock file access (ABI 7), Landlock TCP, Landlock scopes "
            "(abstract sockets, signals), seccomp system-call filter, empty network namespace");
  EXPECT_TRUE((KernelProtections{6, true, true}.Complete()));
  const KernelProtections partial{3, true, false};
  EXPECT_FALSE(partial.Complete());
  EXPECT_EQ(DescribeProtections(partial),
            "active: -dSAFER, private temporary folder, own process group, address-space cap, "
            "no new privileges, Landlock file access (ABI 3), seccomp system-call filter; "
            "missing: Landlock TCP, Landlock scopes (abstract sockets, signals), empty network "
            "namespace");
  EXPECT_NE(DescribeProtections({}).find("; missing: Landlock file access, Landlock TCP"),
            std::string::npos);
}

}  // namespace
}  // namespace orvalis::renderer
