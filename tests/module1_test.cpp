// Start-up: mode selection, the second-instance rule, cursor parking and the dispatching wait.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/forms.h"
#include "platform/runtime.h"
#include "test_support.h"

using headless::Outcome;
using testing_support::RunQuietglass;
using testing_support::Screen;

namespace {

enum class Life { EndedAtOnce, Setup, Saver };

Life LifeOf(const headless::RunResult& result) {
  if (result.windows.empty()) {
    EXPECT_EQ(result.outcome, Outcome::Ended);
    return Life::EndedAtOnce;
  }
  EXPECT_EQ(result.windows.size(), 1u);
  EXPECT_EQ(result.outcome, Outcome::Stopped);  // both modes keep running until they are ended
  return result.windows[0].settings.kind == host::WindowKind::Dialog ? Life::Setup : Life::Saver;
}

struct ModeCase {
  const char* args;
  Life life;
};

TEST(ModeSelection, CommandLineChoosesOneOfThreeLives) {
  const ModeCase cases[] = {
      {"", Life::Setup},           {"/c:1234", Life::Setup},   {"/Cx", Life::Setup},
      {"/c", Life::Setup},         {"/s", Life::Saver},        {"/S", Life::Saver},
      {"/s 5", Life::EndedAtOnce}, {"-s", Life::EndedAtOnce},  {"/p 1234", Life::EndedAtOnce},
      {"/a", Life::EndedAtOnce},   {" /s", Life::EndedAtOnce}, {"/S ", Life::EndedAtOnce},
      {"/", Life::EndedAtOnce},    {"c", Life::EndedAtOnce},
  };
  for (const ModeCase& c : cases) {
    SCOPED_TRACE(std::string("args \"") + c.args + "\"");
    const auto result = RunQuietglass(Screen(1024, 768, c.args, 0.5));
    EXPECT_EQ(LifeOf(result), c.life);
    if (c.life == Life::Setup) {
      EXPECT_EQ(result.windows[0].settings.caption, "Quietglass v1.01");
    }
    // Only the saver parks the cursor.
    EXPECT_EQ(result.cursorCalls.size(), c.life == Life::Saver ? 1u : 0u);
  }
}

// A copy the host cannot vouch for stays out of the way just as a second copy does.
TEST(ModeSelection, SecondInstanceEndsWhateverItsCommandLine) {
  for (const auto answer : {host::InstanceAnswer::Taken, host::InstanceAnswer::CannotTell})
    for (const char* args : {"", "/c:1234", "/s", "/S", "/p 1234", "/a"}) {
      SCOPED_TRACE(args);
      auto config = Screen(1024, 768, args, 0.5);
      config.instance = answer;
      const auto result = RunQuietglass(config);
      EXPECT_EQ(result.outcome, Outcome::Ended);
      EXPECT_TRUE(result.windows.empty());
      EXPECT_TRUE(result.cursorCalls.empty());
      EXPECT_EQ(result.endedAt, 0.0);
    }
}

// An independent reading of the switch rule, byte by byte.
Life ExpectedLife(const std::string& args) {
  if (args.empty()) return Life::Setup;
  if (args.size() >= 2 && args[0] == '/' && (args[1] == 'c' || args[1] == 'C')) return Life::Setup;
  if (args == "/s" || args == "/S") return Life::Saver;
  return Life::EndedAtOnce;
}

TEST(ModeSelection, RandomCommandLinesNeverCrash) {
  std::mt19937 random(20261208);
  const std::string alphabet =
      "/sScCpPa -:\"'\t\n\r\x01\x7f\xc3\xa9\xe2\x80\x9c"
      "0123456789";
  for (int i = 0; i < 3000; ++i) {
    std::string args;
    const int length = i % 50 == 0 ? 5000 : static_cast<int>(random() % 6);
    for (int k = 0; k < length; ++k) {
      args += (random() % 4 == 0) ? static_cast<char>(random() % 256)
                                  : alphabet[random() % alphabet.size()];
    }
    SCOPED_TRACE(testing::Message() << "case " << i);
    const auto result = RunQuietglass(Screen(64, 48, args, 0.0));
    ASSERT_EQ(LifeOf(result), ExpectedLife(args));
  }
}

// Runs a piece of start-up code on its own, as if it were the whole program.
headless::RunResult RunAlone(headless::Config config, void (*body)(),
                             std::vector<headless::Input> script = {}) {
  return headless::Run(config, std::move(script), [body] {
    Module1 = Module1State{};
    body();
  });
}

TEST(ParkCursor, PutsTheCursorInTheCornerAndRecordsTheTwips) {
  struct Case {
    int width, height;
    int passedX, passedY;
  } cases[] = {
      {800, 600, 12000, 9000},
      {1024, 768, 15360, 11520},
      // Wider or taller than 32767 twips: the value passed and recorded is clamped there.
      {3000, 2000, 32767, 30000},
      {2185, 3000, 32767, 32767},
      {1, 1, 15, 15},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    const auto result = RunAlone(Screen(c.width, c.height), ParkCursor);
    // The runtime keeps the cursor on the screen, as the window system does: the host is asked
    // for the corner.
    ASSERT_EQ(result.cursorCalls.size(), 1u);
    EXPECT_EQ(result.cursorCalls[0], std::make_pair(c.width - 1, c.height - 1));
    EXPECT_EQ(result.cursorX, c.width - 1);
    EXPECT_EQ(result.cursorY, c.height - 1);
    EXPECT_EQ(Module1.LastMouseX, static_cast<float>(c.passedX));
    EXPECT_EQ(Module1.LastMouseY, static_cast<float>(c.passedY));
  }
}

TEST(ParkCursor, EmptyScreenDoesNotCrash) {
  const auto result = RunAlone(Screen(0, 0), ParkCursor);
  EXPECT_EQ(result.cursorX, 0);
  EXPECT_EQ(result.cursorY, 0);
}

double g_returnedAt = -1;

TEST(Pause, ZeroAndNegativeReturnAtOnce) {
  for (std::int16_t seconds : {std::int16_t{0}, std::int16_t{-1}, std::int16_t{-32768}}) {
    static std::int16_t s_seconds;
    s_seconds = seconds;
    g_returnedAt = -1;
    RunAlone(Screen(100, 100), [] {
      Pause(s_seconds);
      g_returnedAt = headless::Now();
      EXPECT_FALSE(Module1.InPause);
    });
    EXPECT_EQ(g_returnedAt, 0.0);
  }
}

TEST(Pause, LastsItsSecondsByTheClock) {
  for (double clockStart : {43200.0, 0.0, 86399.5, 86399.99}) {
    SCOPED_TRACE(clockStart);
    auto config = Screen(100, 100);
    config.clockStart = clockStart;  // a start just before midnight must not wait 24 hours
    g_returnedAt = -1;
    RunAlone(config, [] {
      const std::int16_t one = 1;
      Pause(one);
      g_returnedAt = headless::Now();
    });
    EXPECT_NEAR(g_returnedAt, 1.0, 0.02);
  }
}

TEST(Pause, ClockJumpsDoNotStrandIt) {
  // A jump back past the start reads as midnight and ends the wait; a smaller one back never
  // keeps it past its two seconds of monotonic time; a jump forward ends it.
  for (auto [jump, returnsAt] :
       {std::pair{-3600.0, 0.5}, std::pair{-0.3, 2.0}, std::pair{3600.0, 0.5}}) {
    SCOPED_TRACE(jump);
    g_returnedAt = -1;
    const auto result = RunAlone(Screen(100, 100),
                                 [] {
                                   const std::int16_t two = 2;
                                   Pause(two);
                                   g_returnedAt = headless::Now();
                                 },
                                 {headless::ClockJumpAt(0.5, jump)});
    EXPECT_EQ(result.outcome, Outcome::Returned);
    EXPECT_NEAR(g_returnedAt, returnsAt, 1e-6);
  }
}

// A window with a timer whose handler pauses: the nested pause returns at once, and the timer
// keeps ticking during the outer pause without running inside itself.
struct PausingForm : rt::Form {
  rt::Timer timer{*this};
  std::vector<std::pair<double, double>> nested;  // when each tick's pause began and ended
  PausingForm() {
    ClientWidth = 600;
    ClientHeight = 600;
    timer.SetInterval(100);
    timer.OnTimer = [this] {
      const double before = headless::Now();
      const std::int16_t one = 1;
      Pause(one);
      nested.emplace_back(before, headless::Now());
    };
  }
};

TEST(Pause, NestedPauseReturnsAtOnceAndTimersKeepTicking) {
  g_returnedAt = -1;
  RunAlone(Screen(200, 200, "", 3), [] {
    rt::NewForm<PausingForm>().Show();
    const std::int16_t one = 1;
    Pause(one);
    g_returnedAt = headless::Now();
    EXPECT_FALSE(Module1.InPause);
  });
  EXPECT_NEAR(g_returnedAt, 1.0, 0.02);
  const auto& form = *rt::FindForm<PausingForm>();
  ASSERT_GE(form.nested.size(), 9u);
  for (const auto& [before, after] : form.nested) {
    if (after > g_returnedAt) break;  // after the outer pause a tick's pause is a real one
    EXPECT_EQ(before, after);
  }
}

}  // namespace
