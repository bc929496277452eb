// The runtime's hot paths on the headless host: one animation tick, a whole frame, start-up to the
// first frame, a minute of animation, and decoding the artwork. CPU time is the number to read.
#include <benchmark/benchmark.h>

#include <ctime>
#include <functional>
#include <string>

#include "assets/assets.h"
#include "platform/forms.h"
#include "platform/headless.h"
#include "platform/picture.h"
#include "platform/runtime.h"
#include "saver/frm_screen_saver.h"
#include "startup/module1.h"

namespace {

// Virtual seconds after start when the one-second grace period is surely over and only the
// animation timer is left running. Not a multiple of the 150 ms tick, so no tick is due then.
constexpr double kSettled = 2.0;

headless::Config SaverConfig(int width, int height, double runSeconds) {
  headless::Config config;
  config.screen = {width, height};
  config.commandLine = "/S";
  config.runSeconds = runSeconds;
  return config;
}

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Adds up the pixels the host was asked to show since the last call.
long long PaintedPixels() {
  long long pixels = 0;
  for (const rt::PixelRect& rect : headless::TakePaintLog()) pixels += rect.area();
  return pixels;
}

// Starts the saver, lets it settle, and hands its window to `measure` from inside the running
// program, where the runtime's calls work as they do for the program itself.
void WithSettledSaver(benchmark::State& state, int width, int height,
                      const std::function<void(frmScreenSaver&)>& measure) {
  bool measured = false;
  headless::Run(SaverConfig(width, height, kSettled),
                {headless::CallAt(kSettled,
                                  [&] {
                                    frmScreenSaver* saver = rt::FindForm<frmScreenSaver>();
                                    if (saver == nullptr || !saver->IsOpen()) return;
                                    PaintedPixels();  // start counting from here
                                    measure(*saver);
                                    measured = true;
                                  })},
                RunProgram);
  if (!measured) state.SkipWithError("the saver window was not running at the probe");
}

// Makes `change` and then dispatches, once per iteration, on a settled saver of the benchmark's
// size; `counter`, when given, reports the pixels painted per iteration.
void MeasurePainting(benchmark::State& state, const char* counter,
                     const std::function<void(frmScreenSaver&, int, int)>& change) {
  const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  WithSettledSaver(state, width, height, [&](frmScreenSaver& saver) {
    for (auto _ : state) {
      change(saver, width, height);
      rt::DoEvents();
    }
    if (counter != nullptr)
      state.counters[counter] = benchmark::Counter(static_cast<double>(PaintedPixels()),
                                                   benchmark::Counter::kAvgIterations);
  });
}

// One tick of the animation timer as the event loop runs it: the state update, then the repaint
// of the disk's old and new box (the artwork composed under the stretched disk). The disk's cycle
// includes ticks that only wait, so this is the average over whole cycles.
void BM_AnimationTick(benchmark::State& state) {
  MeasurePainting(state, "px_per_tick",
                  [](frmScreenSaver& saver, int, int) { saver.tmrAnimation_Timer(); });
}
BENCHMARK(BM_AnimationTick)->Args({1024, 768})->Args({3840, 2160})->Unit(benchmark::kMicrosecond);

// A whole frame: the window is invalidated as when it is first shown, so the band is filled and
// the artwork and the disk are composed piece by piece. The fill into the headless host's virtual
// screen stands in for the window system's own fill and grows with the screen.
void BM_FullFrame(benchmark::State& state) {
  MeasurePainting(state, "px_per_frame", [](frmScreenSaver& saver, int width, int height) {
    saver.InvalidatePixels({0, 0, width, height});
  });
}
BENCHMARK(BM_FullFrame)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMicrosecond);

// Only what the runtime composes of a whole frame: the artwork's box, without the flat band.
void BM_ArtworkFrame(benchmark::State& state) {
  MeasurePainting(state, nullptr,
                  [](frmScreenSaver& saver, int, int) { saver.Image1.Invalidate(); });
}
BENCHMARK(BM_ArtworkFrame)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMicrosecond);

// The program from its start to its first frame: decoding the pictures, the layout, the window,
// and the first paint, after which the run is stopped. Includes the headless host's own set-up,
// which BM_HeadlessSetup measures alone.
void BM_StartToFirstFrame(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  const headless::Config config = SaverConfig(width, height, 0);
  long long painted = 0;
  for (auto _ : state) {
    headless::Run(config, {}, RunProgram);
    painted += PaintedPixels();
  }
  if (painted == 0) state.SkipWithError("the first frame was not painted");
}
BENCHMARK(BM_StartToFirstFrame)
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->Unit(benchmark::kMillisecond);

// What a run costs the headless host alone (a fresh virtual screen), with a program that does
// nothing: subtract it from BM_StartToFirstFrame.
void BM_HeadlessSetup(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  const headless::Config config = SaverConfig(width, height, 0);
  for (auto _ : state) headless::Run(config, {}, [] {});
}
BENCHMARK(BM_HeadlessSetup)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);

// A minute of animation through the real event loop once the saver has settled: 400 ticks of the
// timer and the waits between them, on a virtual clock. The time reported is the thread's CPU time
// between two probes a minute apart, so start-up is not counted: the runtime's share of a minute.
void BM_MinuteOfAnimation(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  for (auto _ : state) {
    double from = -1, to = -1;
    headless::Run(SaverConfig(width, height, kSettled + 60),
                  {headless::CallAt(kSettled, [&] { from = ThreadCpuSeconds(); }),
                   headless::CallAt(kSettled + 60, [&] { to = ThreadCpuSeconds(); })},
                  RunProgram);
    if (from < 0 || to < 0) {
      state.SkipWithError("the saver did not run for the minute");
      break;
    }
    state.SetIterationTime(to - from);
  }
}
BENCHMARK(BM_MinuteOfAnimation)
    ->Args({1024, 768})
    ->Args({3840, 2160})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Reading the 800 x 600, 8-bit artwork: decoded into 32-bit pixels (what the saver did), and
// in place (what it does: the header and palette read, the rows left where they are).
void BM_DecodeBackground(benchmark::State& state) {
  const auto file = assets::BackgroundBmp();
  const bool inPlace = state.range(0) != 0;
  std::string error;
  for (auto _ : state) {
    rt::Picture picture;
    if (!(inPlace ? rt::ViewBmp(file, picture, error) : rt::DecodeBmp(file, picture, error))) {
      state.SkipWithError(error.c_str());
      break;
    }
    benchmark::DoNotOptimize(picture);
  }
}
BENCHMARK(BM_DecodeBackground)->ArgName("in_place")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
