// The server program as a whole: start-up, serving, the Server menu, the
// Stop Server dialog, the exit with its saved state, and log cycling asked
// for by signal or by another process.
#include <gtest/gtest.h>

#include <functional>

#include "console/statshistory.h"
#include "korridan_site.h"
#include "platform/crossproc.h"
#include "platform/profile.h"
#include "platform/registry.h"

namespace korridan_test {
namespace {

constexpr char kOkStart[] = "HTTP/1.0 200 OK\r\n";

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
bool EndsWith(const std::string& l, const std::string& s) { return l.size() >= s.size() && l.ends_with(s); }

using Korridan = KorridanSite;

// A socket of the test's own listening on the loopback port (and not handed
// to korridan); -1 when it cannot.
int HoldPort(int port) {
  int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(holder, 1) != 0) {
    ::close(holder);
    return -1;
  }
  return holder;
}

// ---------------------------------------------------------------------------
// Start-up

TEST_F(Korridan, StartUpShowsWinsockAndStartsOnFirstShowing) {
  Start();
  ASSERT_GE(WaitRunning(), 0) << Stderr();
  std::vector<std::string> lines = Lines();
  auto at = [&](const std::string& l) { return std::find(lines.begin(), lines.end(), l) - lines.begin(); };
  // Title and caption say "Stopped" before anything is started.
  EXPECT_LT(at("@ title Halvorine (Stopped)"), at("@ caption Halvorine (Stopped)"));
  EXPECT_LT(at("@ caption Halvorine (Stopped)"), at("Starting Winsock."));
  // Two lines of the socket layer follow, then the menu item reads "Start".
  ptrdiff_t winsock = at("Starting Winsock.");
  ASSERT_LT(winsock + 3, static_cast<ptrdiff_t>(lines.size()));
  EXPECT_EQ(lines[winsock + 3], "@ menu ServerStatusMenu Start");
  EXPECT_EQ(at("WinSock not loaded."), static_cast<ptrdiff_t>(lines.size()));
  EXPECT_LT(at("@ menu ServerStatusMenu Start"), at("Starting Server"));
  EXPECT_LT(at("Starting Server"), at("@ caption Halvorine (0)"));
  EXPECT_LT(at("@ caption Halvorine (0)"), at("@ title Halvorine (0)"));
  EXPECT_LT(at("@ title Halvorine (0)"), at("@ menu ServerStatusMenu Stop"));
  EXPECT_NE(at("@ menu ServerStatusMenu Stop"), static_cast<ptrdiff_t>(lines.size()));

  // The window's handle is in the registry, for other programs.
  setenv("HALVORINE_REGISTRY", (root_ + "/registry").c_str(), 1);
  auto key = platform::RegistryKey::Open("\\Software\\Ortelune Software\\Halvorine", false);
  ASSERT_TRUE(key);
  auto handle = key->ReadString("MessageHandle");
  ASSERT_TRUE(handle);
  EXPECT_GT(std::stoul(*handle), 0u);

  Signal(SIGTERM);
  EXPECT_EQ(WaitExit(), 0);
}

TEST_F(Korridan, ServesPublicAndPrivatePages) {
  Start();
  ASSERT_GE(WaitRunning(), 0) << Stderr();
  std::string index = Get("/");
  EXPECT_TRUE(index.starts_with(kOkStart)) << index;
  EXPECT_TRUE(Has(index, "<html><body>index</body></html>")) << index;
  std::string refused = Get("/private/");
  EXPECT_TRUE(refused.starts_with("HTTP/1.0 401")) << refused;
  std::string priv = Get("/private/", "ann:secret");
  EXPECT_TRUE(priv.starts_with(kOkStart)) << priv;
  EXPECT_TRUE(Has(priv, "private")) << priv;
  // The log window shows each request in its slot's lines.
  EXPECT_GE(WaitForEnding("] GET /private/ HTTP/1.0"), 0);
  EXPECT_GE(WaitFor([](const std::string& l) { return l.starts_with("[1,127.0.0.1,") && EndsWith(l, "] Accept"); }),
            0);
  Signal(SIGTERM);
  EXPECT_EQ(WaitExit(), 0);
}

TEST_F(Korridan, CaptionFollowsTheOpenConnections) {
  Start();
  int running = WaitRunning();
  ASSERT_GE(running, 0) << Stderr();
  {
    Client c(port_);
    ASSERT_TRUE(c.Connected());
    c.Send("GET / HTTP/1.0\r\n");
    EXPECT_GE(WaitForLine("@ caption Halvorine (1)", running), 0);
    c.Send("\r\n");
    EXPECT_TRUE(c.ReadAll(10000).starts_with(kOkStart));
  }
  int one = WaitForLine("@ title Halvorine (1)", running);
  EXPECT_GE(WaitForLine("@ caption Halvorine (0)", one), 0);
  Signal(SIGTERM);
  EXPECT_EQ(WaitExit(), 0);
}

TEST_F(Korridan, LocalOffLeavesEngineEventsOutOfTheLogWindow) {
  ini_["Log"]["Local"] = "0";
  Start();
  int running = WaitRunning();
  ASSERT_GE(running, 0) << Stderr();
  EXPECT_GE(WaitForLine("Starting Winsock."), 0);
  EXPECT_GE(WaitForLine("Starting Server"), 0);
  {
    Client c(port_);
    c.Send("GET / HTTP/1.0\r\n");
    // The caption still counts the connection.
    EXPECT_GE(WaitForLine("@ caption Halvorine (1)", running), 0);
    c.Send("\r\n");
    EXPECT_TRUE(c.ReadAll(10000).starts_with(kOkStart));
  }
  Signal(SIGTERM);
  EXPECT_EQ(WaitExit(), 0);
  EXPECT_EQ(Count([](const std::string& l) { return l.starts_with("["); }), 0);
}

TEST_F(Korridan, SplashScreenDoesNotHoldTheStartAndGoesAway) {
  ini_["General"].erase("SplashScreen");
  Start();
  ASSERT_GE(WaitRunning(), 0) << Stderr();
  EXPECT_TRUE(Get("/").starts_with(kOkStart));
  // Past the splash's five seconds: its timer has released it.
  std::this_thread::sleep_for(5500ms);
  Command("menu AboutMenu");
  ASSERT_GE(WaitForLine("@ modal About"), 0);
  Command("click About.OKButton");
  ASSERT_GE(WaitForLine("@ modal-end About"), 0);
  Signal(SIGTERM);
  EXPECT_EQ(WaitExit(), 0);
  EXPECT_EQ(Stderr(), "");
}

TEST_F(Korridan, WithoutStartServerItWaitsStoppedUntilStarted) {
  ini_["General"]["StartServer"] = "0";
  Start();
  int menu = WaitForLine("@ menu ServerStatusMenu Start");
  ASSERT_GE(menu, 0) << Stderr();
  // Nothing listens until the operator starts the server.
  EXPECT_EQ(WaitForLine("Starting Server", 0, 300ms), -1);
  EXPECT_EQ(Get("/"), "(connect failed)");
  Command("menu ServerStatusMenu");
  ASSERT_GE(WaitRunning(menu), 0) << Stderr();
  EXPECT_TRUE(Get("/").starts_with(kOkStart));
  Command("menu ExitMenu");
  EXPECT_EQ(WaitExit(), 0);
}

TEST_F(Korridan, MissingAddressFailsTheStartInsteadOfAsking) {
  ini_["Network"].erase("Address");
  Start();
  ASSERT_TRUE(WaitStderr("You must enter a network address.")) << Stderr();
  EXPECT_EQ(WaitForLine("Starting Server", 0, 300ms), -1);
  EXPECT_EQ(WaitForLine("@ caption Halvorine (0)", 0, 10ms), -1);
  // Still there, and still answering its operator.
  Command("menu ExitMenu");
  EXPECT_EQ(WaitExit(), 0);
}

// The operator drives the settings dialog through commands: an address
// for a start that had none, then an alias that the running server takes
// at its next request.
TEST_F(Korridan, OperatorSetsTheAddressAndAnAliasThroughTheSettingsDialog) {
  ini_["Network"].erase("Address");
  WriteFile(prog_ + "Other/page.html", "<html>other</html>\n");
  Rule(prog_ + "Other/", "N", "");
  Start();
  ASSERT_TRUE(WaitStderr("You must enter a network address.")) << Stderr();
  size_t from = LineCount();
  for (const char* c : {"menu Preferences1", "set SettingsForm.AddressEdit 127.0.0.1", "click SettingsForm.Button1",
                        "menu ServerStatusMenu"})
    Command(c);
  ASSERT_GE(WaitRunning(from), 0) << Stderr();
  EXPECT_GE(WaitForLine("@ modal SettingsForm", from), 0);
  EXPECT_TRUE(Get("/other/page.html").starts_with("HTTP/1.0 404")) << Stderr();

  from = LineCount();
  const std::vector<std::string> commands = {
      "menu Preferences1",          "set SettingsForm.Notebook Aliases", "click SettingsForm.AliasAdd",
      "set IncludeForm.TokenEdit other", "set IncludeForm.ReplaceEdit " + prog_ + "Other/",
      "click IncludeForm.OKButton", "click SettingsForm.Button1"};
  for (const std::string& c : commands) Command(c);
  ASSERT_GE(WaitForLine("@ modal-end SettingsForm", from), 0) << Stderr();
  std::string page = Get("/other/page.html");
  EXPECT_TRUE(page.starts_with(kOkStart)) << page;
  EXPECT_TRUE(Has(page, "<html>other</html>")) << page;
  platform::IniFile ini(prog_ + "KORRIDAN.INI");
  EXPECT_EQ(ini.ReadString("Network", "Address", ""), "127.0.0.1");
  EXPECT_EQ(ini.ReadString("Aliases", "OTHER", ""), prog_ + "Other/");
  Command("menu ExitMenu");
  EXPECT_EQ(WaitExit(), 0);
}

TEST_F(Korridan, FailedListenLeavesTheServerStopped) {
  int holder = HoldPort(port_);
  ASSERT_GE(holder, 0);
  Start();
  ASSERT_GE(WaitForLine("Starting Server"), 0) << Stderr();
  EXPECT_TRUE(WaitStderr("Bind failed.")) << Stderr();
  EXPECT_EQ(WaitForLine("@ menu ServerStatusMenu Stop", 0, 500ms), -1);
  ::close(holder);
  // Once the port is free a new start succeeds.
  size_t from = LineCount();
  Command("menu ServerStatusMenu");
  ASSERT_GE(WaitRunning(from), 0) << Stderr();

  Signal(SIGTERM);
  EXPECT_EQ(WaitExit(), 0);
}

// With no operator, a start that fails ends the program with 1 after a
// message that says what failed.
TEST_F(Korridan, WithoutAnOperatorAFailedStartEndsWithOne) {
  struct Case {
    const char* what;
    std::function<void()> spoil;
    std::vector<std::string> said;
  };
  int holder = -1;
  const std::string port = std::to_string(port_);
  const Case cases[] = {
      {"port in use",
       [&] {
         holder = HoldPort(port_);
         ASSERT_GE(holder, 0);
       },
       {"[WSAEADDRINUSE] Bind failed. bind(127.0.0.1:" + port + "): Address already in use"}},
      {"tables missing", [&] { fs::remove(prog_ + "Data/ACCESS.db"); }, {"ACCESS.db"}},
      {"no address", [&] { ini_["Network"].erase("Address"); }, {"You must enter a network address."}},
  };
  with_commands_ = false;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    k.spoil();
    Start();
    EXPECT_EQ(WaitExit(10s), 1) << Stderr();
    for (const std::string& text : k.said) EXPECT_NE(Stderr().find(text), std::string::npos) << Stderr();
    if (holder >= 0) ::close(holder);
    holder = -1;
  }
}

// Standard output and error in one file, as a service manager or a nohup
// run keeps them: a failed start reads in the order things happened.
TEST_F(Korridan, OutputAndErrorInOneFileKeepTheirOrder) {
  int holder = HoldPort(port_);
  ASSERT_GE(holder, 0);
  WriteIni();
  const std::string both = root_ + "/both.txt";
  std::string command = "cd " + prog_ + " && env -u DISPLAY -u WAYLAND_DISPLAY HALVORINE_REGISTRY=" + root_ +
                        "/registry ./korridan --headless < /dev/null > " + both + " 2>&1";
  int status = std::system(command.c_str());
  ::close(holder);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  std::vector<std::string> lines;
  std::istringstream text(ReadFile(both));
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  auto at = [&](const std::string& part) {
    return std::find_if(lines.begin(), lines.end(), [&](const std::string& l) { return Has(l, part); }) - lines.begin();
  };
  const ptrdiff_t bind = at("[WSAEADDRINUSE] Bind failed.");
  EXPECT_LT(bind, static_cast<ptrdiff_t>(lines.size())) << ReadFile(both);
  EXPECT_LT(at("Starting Winsock."), at("Starting Server")) << ReadFile(both);
  EXPECT_LT(at("Starting Server"), bind) << ReadFile(both);
}

TEST_F(Korridan, UnknownArgumentIsAUsageError) {
  std::string command = prog_ + "korridan --bogus 2>/dev/null";
  int status = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
}

// ---------------------------------------------------------------------------
// The exit and what it keeps

TEST_F(Korridan, SigtermWritesStatisticsInTheCurrentDirectoryAndTheWindowKeys) {
  cwd_ = root_ + "/work/";
  Start();
  ASSERT_GE(WaitRunning(), 0) << Stderr();
  EXPECT_TRUE(Get("/").starts_with(kOkStart));
  Signal(SIGTERM);
  ASSERT_EQ(WaitExit(), 0) << Stderr();
  EXPECT_EQ(fs::file_size(cwd_ + "STATS.DAT"), kStatFileSize);
  EXPECT_FALSE(fs::exists(prog_ + "STATS.DAT"));
  platform::IniFile ini(prog_ + "KORRIDAN.INI");
  EXPECT_EQ(ini.ReadInteger("General", "WindowX", -1), 5);
  EXPECT_EQ(ini.ReadInteger("General", "WindowY", -1), 5);
  EXPECT_EQ(ini.ReadInteger("General", "WindowWidth", -1), 435);
  EXPECT_EQ(ini.ReadInteger("General", "WindowHeight", -1), 300);
  EXPECT_EQ(ini.ReadInteger("General", "Tab", -1), 0);
  // The exit aborted the running server at once.
  EXPECT_GE(WaitForEnding("] Done"), 0);
}

TEST_F(Korridan, SigintClosesLikeTheCloseBox) {
  ini_["General"]["WindowX"] = "40";
  ini_["General"]["WindowY"] = "30";
  ini_["General"]["WindowWidth"] = "600";
  ini_["General"]["WindowHeight"] = "410";
  ini_["General"]["Tab"] = "3";
  Start();
  ASSERT_GE(WaitRunning(), 0) << Stderr();
  Signal(SIGINT);
  ASSERT_EQ(WaitExit(), 0) << Stderr();
  EXPECT_EQ(fs::file_size(prog_ + "STATS.DAT"), kStatFileSize);
  platform::IniFile ini(prog_ + "KORRIDAN.INI");
  EXPECT_EQ(ini.ReadInteger("General", "WindowX", -1), 40);
  EXPECT_EQ(ini.ReadInteger("General", "WindowY", -1), 30);
  EXPECT_EQ(ini.ReadInteger("General", "WindowWidth", -1), 600);
  EXPECT_EQ(ini.ReadInteger("General", "WindowHeight", -1), 410);
  EXPECT_EQ(ini.ReadInteger("General", "Tab", -1), 3);
}

TEST_F(Korridan, MaximizedWindowKeepsItsStoredRectangle) {
  ini_["General"]["WindowState"] = "1";
  ini_["General"]["Tab"] = "2";
  Start();
  ASSERT_GE(WaitRunning(), 0) << Stderr();
  Command("menu ExitMenu");
  ASSERT_EQ(WaitExit(), 0) << Stderr();
  platform::IniFile ini(prog_ + "KORRIDAN.INI");
  EXPECT_EQ(ini.ReadInteger("General", "WindowX", -1), -1);
  EXPECT_EQ(ini.ReadInteger("General", "WindowWidth", -1), -1);
  EXPECT_EQ(ini.ReadInteger("General", "Tab", -1), 2);
}

TEST_F(Korridan, FailedStatisticsSaveAtExitIsReportedAndTheExitGoesOn) {
  // A directory where the file should go: the save cannot replace it.
  fs::create_directories(prog_ + "STATS.DAT");
  Start();
  ASSERT_GE(WaitRunning(), 0) << Stderr();
  Signal(SIGTERM);
  ASSERT_EQ(WaitExit(), 0) << Stderr();
  EXPECT_TRUE(Has(Stderr(), "message box [error]")) << Stderr();
  EXPECT_TRUE(fs::is_directory(prog_ + "STATS.DAT"));
  platform::IniFile ini(prog_ + "KORRIDAN.INI");
  EXPECT_EQ(ini.ReadInteger("General", "WindowX", -1), 5);
  EXPECT_EQ(ini.ReadInteger("General", "Tab", -1), 0);
  // No temporary file is left behind.
  for (const auto& e : fs::directory_iterator(prog_))
    EXPECT_FALSE(e.path().filename().string().starts_with("STATS.DAT.")) << e.path();
}

TEST_F(Korridan, StatisticsSavedAtExitAreLoadedAtTheNextStart) {
  Start();
  ASSERT_GE(WaitRunning(), 0) << Stderr();
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(Get("/").starts_with(kOkStart));
  Signal(SIGTERM);
  ASSERT_EQ(WaitExit(), 0);
  std::string first = ReadFile(prog_ + "STATS.DAT");
  ASSERT_EQ(first.size(), kStatFileSize);
  // A second run that serves nothing writes back what it loaded.
  Start();
  ASSERT_GE(WaitRunning(), 0) << Stderr();
  Signal(SIGTERM);
  ASSERT_EQ(WaitExit(), 0);
  std::string second = ReadFile(prog_ + "STATS.DAT");
  ASSERT_EQ(second.size(), kStatFileSize);
  std::vector<TStatHistory> a(16), b(16);
  std::vector<TStatHistory*> pa, pb;
  for (int i = 0; i < 16; ++i) {
    // The file order: per scale Hits, Logins, Connections, Users.
    const int seconds[] = {60, 1200, 10800, 86400};
    bool averaging = i % 4 >= 2;
    a[i].Init(seconds[i / 4], 73, 2, averaging);
    b[i].Init(seconds[i / 4], 73, 2, averaging);
    pa.push_back(&a[i]);
    pb.push_back(&b[i]);
  }
  TStatLoadResult la = LoadStatHistories(prog_ + "STATS.DAT", pb);
  EXPECT_EQ(la.Taken, 16) << la.Error;
  // Three hits made in the first run are in the Hits history of the second.
  int32_t hits = 0;
  for (int j = 0; j < b[0].BucketCount; ++j) hits += b[0].Values[1][j];
  hits += b[0].OpenTotals[1];
  EXPECT_EQ(hits, 3);
}

// ---------------------------------------------------------------------------
// The Stop Server dialog

TEST_F(Korridan, GracefulStopLetsTheActiveConnectionFinish) {
  Start();
  ASSERT_GE(WaitRunning(), 0) << Stderr();
  Client c(port_);
  ASSERT_TRUE(c.Connected());
  c.Send("GET / HTTP/1.0\r\n");
  ASSERT_GE(WaitForEnding("] FD_READ"), 0);
  size_t from = LineCount();
  int closed = AnswerStopDialog(StopChoice::Finish, from);
  ASSERT_GE(closed, 0);
  // The listener is closed at once; the active connection is still served.
  auto until = std::chrono::steady_clock::now() + 10s;
  while (Exchange(port_, "GET / HTTP/1.0\r\n\r\n") != "(connect failed)" && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(20ms);
  EXPECT_EQ(Exchange(port_, "GET / HTTP/1.0\r\n\r\n"), "(connect failed)");
  EXPECT_EQ(WaitForLine("@ caption Halvorine (Stopped)", closed, 200ms), -1);
  c.Send("\r\n");
  std::string answer = c.ReadAll(10000);
  EXPECT_TRUE(answer.starts_with(kOkStart)) << answer;
  EXPECT_TRUE(Has(answer, "index")) << answer;
  int stopped = WaitForLine("@ caption Halvorine (Stopped)", closed);
  ASSERT_GE(stopped, 0);
  EXPECT_GE(WaitForLine("@ menu ServerStatusMenu Start", stopped), 0);

  // Started again, it counts from 0 and serves.
  Command("menu ServerStatusMenu");
  ASSERT_GE(WaitRunning(stopped), 0) << Stderr();
  EXPECT_TRUE(Get("/").starts_with(kOkStart));
  Signal(SIGTERM);
  EXPECT_EQ(WaitExit(), 0);
}

TEST_F(Korridan, AbortingStopClosesTheActiveConnection) {
  Start();
  ASSERT_GE(WaitRunning(), 0) << Stderr();
  Client c(port_);
  ASSERT_TRUE(c.Connected());
  c.Send("GET / HTTP/1.0\r\n");
  ASSERT_GE(WaitForEnding("] FD_READ"), 0);
  size_t from = LineCount();
  // Abort is the preselected choice.
  ASSERT_GE(AnswerStopDialog(StopChoice::Abort, from), 0);
  int stopped = WaitForLine("@ caption Halvorine (Stopped)", from);
  ASSERT_GE(stopped, 0);
  bool timed_out = true;
  EXPECT_EQ(c.ReadAll(10000, &timed_out), "");
  EXPECT_FALSE(timed_out);
  EXPECT_GE(WaitForLine("@ menu ServerStatusMenu Start", stopped), 0);
  Signal(SIGTERM);
  EXPECT_EQ(WaitExit(), 0);
}

TEST_F(Korridan, NoKeepsTheServerRunning) {
  Start();
  int running = WaitRunning();
  ASSERT_GE(running, 0) << Stderr();
  int closed = AnswerStopDialog(StopChoice::No, running);
  ASSERT_GE(closed, 0);
  EXPECT_TRUE(Get("/").starts_with(kOkStart));
  EXPECT_EQ(WaitForLine("@ caption Halvorine (Stopped)", closed, 200ms), -1);
  Signal(SIGTERM);
  EXPECT_EQ(WaitExit(), 0);
}

// A command that fails (an action the operator could not do, a value a
// control cannot take, the input ending while a dialog waits) ends the
// program with status 1: the server stops and STATS.DAT is saved, but the
// window keys, which the commands may have changed (here the page), are not
// written.
TEST_F(Korridan, AFailedCommandEndsTheProgramWithOneWithoutItsWindowKeys) {
  const std::string not_now = "not possible now (hidden, disabled or behind a dialog)";
  struct Case {
    std::vector<std::string> commands;
    bool close_input;
    std::string error;
    bool ini_kept = true;  // KORRIDAN.INI byte for byte
  } cases[] = {
      // The disabled Help button; the main menu behind the open dialog.
      {{"select App.TabSet 3", "menu ServerStatusMenu", "click StopServerForm.Button3"}, false,
       "korridan: line 3: " + not_now + ": click StopServerForm.Button3"},
      {{"select App.TabSet 3", "menu ServerStatusMenu", "menu ExitMenu"}, false,
       "korridan: line 3: " + not_now + ": menu ExitMenu"},
      // The settings dialog, still open at the exit, saves what it shows.
      {{"select App.TabSet 3", "menu Preferences1", "set SettingsForm.Notebook Nowhere"}, false,
       "korridan: line 3: no such item: set SettingsForm.Notebook Nowhere", false},
      // A port that is no number: the dialog stays open and writes nothing,
      // the alias added before it included.
      {{"select App.TabSet 3", "menu Preferences1", "set SettingsForm.AddressEdit 127.0.0.2",
        "set SettingsForm.Notebook Aliases",
        "click SettingsForm.AliasAdd", "set IncludeForm.TokenEdit other", "set IncludeForm.ReplaceEdit /x/",
        "click IncludeForm.OKButton", "set SettingsForm.Notebook Network", "set SettingsForm.PortEdit 8O81",
        "click SettingsForm.Button1"},
       false, "korridan: line 11: it raised an error: click SettingsForm.Button1"},
      {{"select App.TabSet 3", "menu ServerStatusMenu"}, true,
       "korridan: line 2: the commands ended while StopServerForm waits for an answer: menu ServerStatusMenu"},
  };
  for (const Case& c : cases) {
    fs::remove(prog_ + "STATS.DAT");
    Start();
    ASSERT_GE(WaitRunning(), 0) << Stderr();
    const std::string ini_text = ReadFile(prog_ + "KORRIDAN.INI");
    for (const std::string& command : c.commands) Command(command);
    if (c.close_input) CloseInput();
    EXPECT_EQ(WaitExit(), 1) << c.error;
    CloseInput();
    EXPECT_TRUE(Has(Stderr(), c.error + "\n")) << Stderr();
    EXPECT_EQ(fs::file_size(prog_ + "STATS.DAT"), kStatFileSize);
    platform::IniFile ini(prog_ + "KORRIDAN.INI");
    EXPECT_EQ(ini.ReadInteger("General", "Tab", -1), -1) << c.error;
    EXPECT_EQ(ini.ReadInteger("General", "WindowWidth", -1), -1) << c.error;
    if (c.ini_kept) {
      EXPECT_EQ(ReadFile(prog_ + "KORRIDAN.INI"), ini_text) << c.error;
    }
  }
}

TEST_F(Korridan, ExitDuringAGracefulStopAbortsItAndEndsOnce) {
  Start();
  ASSERT_GE(WaitRunning(), 0) << Stderr();
  Client c(port_);
  ASSERT_TRUE(c.Connected());
  c.Send("GET / HTTP/1.0\r\n");
  ASSERT_GE(WaitForEnding("] FD_READ"), 0);
  size_t from = LineCount();
  ASSERT_GE(AnswerStopDialog(StopChoice::Finish, from), 0);
  // The stop waits for the client; the exit does not.
  Signal(SIGTERM);
  ASSERT_EQ(WaitExit(60s), 0) << Stderr();
  bool timed_out = true;
  EXPECT_EQ(c.ReadAll(10000, &timed_out), "");
  EXPECT_FALSE(timed_out);
  EXPECT_EQ(fs::file_size(prog_ + "STATS.DAT"), kStatFileSize);
  EXPECT_EQ(Count([](const std::string& l) { return l == "@ caption Halvorine (Stopped)"; }), 2);
  EXPECT_FALSE(Has(Stderr(), "message box")) << Stderr();
}

// ---------------------------------------------------------------------------
// The exit inside a socket event

TEST_F(Korridan, ExitAskedForInsideASocketEventEndsTheProgramRightAfterIt) {
  // With its output pipe full, korridan waits inside the log line of a
  // socket event; the signal is taken by that event's own message pump.
  Start(4096);
  ASSERT_GE(WaitRunning(), 0) << Stderr();
  HoldOutput(true);
  std::string long_url = "/" + std::string(200, 'x');
  int sent = 0;
  std::unique_ptr<Client> stuck;
  for (int i = 0; i < 200 && !stuck; ++i) {
    auto c = std::make_unique<Client>(port_);
    ASSERT_TRUE(c->Connected());
    ++sent;
    c->Send("GET " + long_url + " HTTP/1.0\r\n\r\n");
    bool timed_out = false;
    c->ReadAll(1000, &timed_out);
    if (timed_out) stuck = std::move(c);
  }
  ASSERT_TRUE(stuck) << "the output pipe never filled";
  // A client that arrives now is never taken.
  Client late(port_);
  ASSERT_TRUE(late.Connected());
  Signal(SIGTERM);
  HoldOutput(false);
  ASSERT_EQ(WaitExit(60s), 0) << Stderr();
  bool timed_out = true;
  EXPECT_EQ(late.ReadAll(5000, &timed_out), "");
  EXPECT_FALSE(timed_out);
  // The client whose request was stuck may or may not have been taken
  // before; the late one never is.
  int accepted = Count([](const std::string& l) { return EndsWith(l, "] Accept"); });
  EXPECT_LE(accepted, sent);
  EXPECT_GE(accepted, sent - 1);
  EXPECT_EQ(fs::file_size(prog_ + "STATS.DAT"), kStatFileSize);
  platform::IniFile ini(prog_ + "KORRIDAN.INI");
  EXPECT_EQ(ini.ReadInteger("General", "Tab", -1), 0);
}

// ---------------------------------------------------------------------------
// Log cycling

TEST_F(Korridan, SighupCyclesTheLogs) {
  Start();
  ASSERT_GE(WaitRunning(), 0) << Stderr();
  EXPECT_TRUE(Get("/").starts_with(kOkStart));
  ASSERT_TRUE(Has(ReadFile(prog_ + "Logs/ACCESS.LOG"), "\"GET / HTTP/1.0\" 200"));
  Signal(SIGHUP);
  ASSERT_TRUE(WaitDatedLogs(1));
  std::string dated = ReadFile(DatedLogs()[0]);
  EXPECT_TRUE(Has(dated, "\"GET / HTTP/1.0\" 200")) << dated;
  // Serving goes on into a fresh ACCESS.LOG.
  EXPECT_TRUE(Get("/private/", "ann:secret").starts_with(kOkStart));
  std::string fresh = ReadFile(prog_ + "Logs/ACCESS.LOG");
  EXPECT_TRUE(Has(fresh, "GET /private/")) << fresh;
  EXPECT_FALSE(Has(fresh, "\"GET / HTTP/1.0\"")) << fresh;
  Signal(SIGTERM);
  EXPECT_EQ(WaitExit(), 0);
}

TEST_F(Korridan, CycleMessageFromAnotherProcessWhileRunningAndWhileStopped) {
  Start();
  ASSERT_GE(WaitRunning(), 0) << Stderr();
  EXPECT_TRUE(Get("/").starts_with(kOkStart));
  setenv("HALVORINE_REGISTRY", (root_ + "/registry").c_str(), 1);
  auto key = platform::RegistryKey::Open("\\Software\\Ortelune Software\\Halvorine", false);
  ASSERT_TRUE(key);
  auto handle_text = key->ReadString("MessageHandle");
  ASSERT_TRUE(handle_text);
  auto handle = static_cast<platform::HWND>(std::stoul(*handle_text));
  ASSERT_TRUE(platform::PostMessageToHandle(handle, platform::kCycleLogsMessage, 0, 0));
  ASSERT_TRUE(WaitDatedLogs(1));

  // Stopped, the log written since is cycled all the same.
  EXPECT_TRUE(Get("/").starts_with(kOkStart));
  size_t from = LineCount();
  ASSERT_GE(AnswerStopDialog(StopChoice::Abort, from), 0);
  ASSERT_GE(WaitForLine("@ caption Halvorine (Stopped)", from), 0);
  // Dated names carry the time to the second; a second cycle within the
  // same second gets a suffix instead of replacing the first.
  ASSERT_TRUE(platform::PostMessageToHandle(handle, platform::kCycleLogsMessage, 0, 0));
  ASSERT_TRUE(WaitDatedLogs(2)) << Stderr();
  Signal(SIGHUP);
  ASSERT_TRUE(WaitDatedLogs(3)) << Stderr();
  Command("menu ExitMenu");
  EXPECT_EQ(WaitExit(), 0);
}

}  // namespace
}  // namespace korridan_test
