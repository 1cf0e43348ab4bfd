// The main window's pages as a headless operator uses them: the header
// viewer opened from the connection list, unloading an extension library
// from the Applications page, the statistics graph and the Resources page.
#include <gtest/gtest.h>

#include <algorithm>

#include "korridan_site.h"

namespace korridan_test {
namespace {

using Pages = KorridanSite;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(Pages, DoubleClickOnABusyRowOpensAHeaderViewerOfItsRequest) {
  ini_["Log"]["Headers"] = "1";
  Start();
  int running = WaitRunning();
  ASSERT_GE(running, 0) << Stderr();
  Command("select App.TabSet 1");
  // An idle row opens nothing.
  Command("dblclick App.ConnectionList 1 2");
  Client c(port_);
  ASSERT_TRUE(c.Connected());
  // The request is read up to its last header line; the blank line that
  // ends it is held back, so the row stays busy.
  c.Send("GET / HTTP/1.0\r\nUser-Agent: probe\r\nX-Odd: a=b\r\n");
  ASSERT_GE(WaitForEnding("] X-Odd: a=b", running), 0);
  size_t from = LineCount();
  Command("dblclick App.ConnectionList 1 1");
  int shown = WaitForLine("@ shown Header", from);
  ASSERT_GE(shown, 0);
  auto row = [&](int n, const std::string& text) {
    return WaitForLine("@ row Header.HeaderList " + std::to_string(n) + " " + text, static_cast<size_t>(shown));
  };
  EXPECT_GE(row(0, "Variable | Value"), 0);
  EXPECT_GE(row(1, "Address | 127.0.0.1"), 0);
  EXPECT_GE(row(2, "Method | GET"), 0);
  EXPECT_GE(row(4, "Version | HTTP/1.0"), 0);
  EXPECT_EQ(Count([](const std::string& l) { return l == "@ shown Header"; }), 1) << "the idle row opened one";

  // A double click on a cell shows its whole text in the viewer's menu.
  Command("dblclick Header.HeaderList 1 4");
  EXPECT_GE(WaitFor([](const std::string& l) { return l.starts_with("@ popup Menu ") && l.ends_with(" HTTP/1.0"); },
                    static_cast<size_t>(shown)),
            0);
  Command("menu Header.MenuItem");
  Command("click Header.OKButton");
  EXPECT_GE(WaitForLine("@ hidden Header", static_cast<size_t>(shown)), 0);
  c.Send("\r\n");
  EXPECT_TRUE(c.ReadAll(10000).starts_with("HTTP/1.0 200 OK"));
  Signal(SIGTERM);
  EXPECT_EQ(WaitExit(), 0);
  EXPECT_EQ(Stderr(), "");
}

// Control bytes of the request show escaped on every line that carries
// request text: none can forge a line or reach the terminal as an escape.
TEST_F(Pages, RequestTextShowsEscapedOnEveryLine) {
  fs::copy_file(fs::path(KORRIDAN_PATH).parent_path() / "POSTLOG.DLL", prog_ + "POSTLOG.DLL");
  Start();
  ASSERT_GE(WaitRunning(), 0) << Stderr();
  Command("select App.TabSet 1");
  const std::string sent = "x%0d%0a[0,,00:00:00]%09FORGED%1b[2J", shown = "x%0D%0A[0,,00:00:00]%09FORGED%1B[2J";
  // A POST whose body is held keeps its row busy.
  Client c(port_);
  c.Send("POST /$postlog.dll?" + sent + " HTTP/1.0\r\nContent-length: 2\r\nX-Odd: a\x1b[2Jb\r\n\r\nx");
  ASSERT_GE(WaitFor([](const std::string& l) { return Has(l, "] Calling postlog.DLL - "); }), 0);
  Command("show App.ConnectionList");
  Command("dblclick App.ConnectionList 1 1");
  const std::pair<std::string, std::string> shown_on[] = {
      {"[", "] Calling postlog.DLL - $postlog.dll?" + shown},
      {"@ row App.ConnectionList 1 1 ", " | POST | $postlog.dll?" + shown + " | "},
      {"@ row Header.HeaderList 3 ", "Request | $postlog.dll?" + shown},
      {"@ row Header.HeaderList 6 ", "X-Odd | a%1B[2Jb"}};
  for (const auto& [start, part] : shown_on)
    EXPECT_GE(WaitFor([&](const std::string& l) { return l.starts_with(start) && Has(l, part); }), 0) << part;
  c.Send("x");
  EXPECT_TRUE(c.ReadAll(10000).starts_with("HTTP/1.0 200 OK"));
  Signal(SIGTERM);
  EXPECT_EQ(WaitExit(), 0);
  // A forged line would hold the tab, an escape its ESC byte.
  EXPECT_EQ(Count([](const std::string& l) {
              return std::any_of(l.begin(), l.end(), [](char b) { return (b >= 0 && b < 0x20) || b == 0x7F; });
            }),
            0);
}

TEST_F(Pages, UnloadFromTheApplicationsPageAsksAndEmptiesTheRow) {
  fs::copy_file(fs::path(KORRIDAN_PATH).parent_path() / "HELLO.DLL", prog_ + "HELLO.DLL");
  Start();
  ASSERT_GE(WaitRunning(), 0) << Stderr();
  EXPECT_TRUE(Get("/$HELLO.DLL?noengine").starts_with("HTTP/1.0 200 OK"));
  size_t from = LineCount();
  Command("show App.DLLList");
  EXPECT_GE(WaitForLine("@ row App.DLLList 0  | Name | Usage | Hits | Threads", from), 0);
  EXPECT_GE(WaitForLine("@ row App.DLLList 1 1 | HELLO.DLL | 0 | 1 | 0", from), 0);
  // The menu item is there only while the pop-up menu is open.
  Command("select App.TabSet 2");
  Command("select App.DLLList 1 1");
  Command("popup App.DLLList");
  EXPECT_GE(WaitFor([](const std::string& l) { return l.starts_with("@ popup DLLMenu ") && l.ends_with(" Unload"); },
                    from),
            0);
  Command("menu UnloadDLL");
  EXPECT_TRUE(WaitStderr("Unload HELLO.DLL?"));
  from = LineCount();
  Command("show App.DLLList");
  ASSERT_GE(WaitForLine("@ row App.DLLList 0  | Name | Usage | Hits | Threads", from), 0);
  Command("show App.Label1");
  ASSERT_GE(WaitFor([](const std::string& l) { return l.starts_with("@ label App.Label1 "); }, from), 0);
  EXPECT_EQ(Count([](const std::string& l) { return l.starts_with("@ row App.DLLList 1 "); }), 1) << "row emptied";
  Signal(SIGTERM);
  EXPECT_EQ(WaitExit(), 0);
}

TEST_F(Pages, OperatorWatchesTheGraphAndTheResources) {
  clock_ = "2026-03-02 10:00:00";
  ini_["General"]["WindowHeight"] = "500";
  Start();
  ASSERT_GE(WaitRunning(), 0) << Stderr();
  size_t from = LineCount();
  Command("show App.Resources");
  EXPECT_GE(WaitForLine("@ label App.Label14 None", from), 0);
  ASSERT_GE(Advance(60), 0);
  from = LineCount();
  Command("show App.Resources");
  EXPECT_GE(WaitForLine("@ label App.Label2 Allocated Memory:", from), 0);
  EXPECT_GE(WaitFor([](const std::string& l) { return l.starts_with("@ label App.Label3 ") && l.size() > 20; }, from),
            0);
  EXPECT_GE(WaitFor([](const std::string& l) { return l.starts_with("@ label App.Label17 ") && !l.ends_with("None"); },
                    from),
            0);

  Command("select App.TabSet 3");
  Command("select App.StatBox 2");
  from = LineCount();
  Command("show App.Stats");
  EXPECT_GE(WaitForLine("@ combo App.StatBox Avg Connections", from), 0);
  EXPECT_GE(WaitFor([](const std::string& l) { return l.starts_with("@ draw App.StatGraph TextOut ") &&
                                                      l.ends_with(" Connections from Known Users"); },
                    from),
            0);
  EXPECT_GE(WaitFor([](const std::string& l) { return l.starts_with("@ draw App.StatGraph Polygon #0000FF "); }, from),
            0);
  EXPECT_GE(WaitFor([](const std::string& l) { return Has(l, "TextOut") && l.ends_with(" 2-Mar"); }, from), 0);
  Signal(SIGTERM);
  EXPECT_EQ(WaitExit(), 0);
}

}  // namespace
}  // namespace korridan_test
