// Loads the module, runs frames on several host threads at once (each with
// its own instance and settings, outputs compared bit for bit with the
// reference), deinitialises and unloads it, several times over. The
// process's threads are counted (process_threads.h): the module's
// workers exist while it is loaded and none is left after Deinit.
#include "tests/win/thread_cases.h"

#include <windows.h>

#include <random>
#include <string>
#include <vector>

#include "tests/support/guarded_frame.h"
#include "tests/support/harness.h"
#include "tests/support/host_frames.h"
#include "tests/support/module_under_test.h"
#include "tests/support/process_threads.h"

namespace wintest {
namespace {

using hosttest::host_functions;
using hosttest::process_threads;
using hosttest::settled_threads;
using hosttest::Instance;
using hosttest::RegisteredFilter;

constexpr int kCycles = 4;
constexpr int kHostThreads = 4;

struct HostThread {
  FilterDefinition* def;
  unsigned seed;
  int frames_done = 0;
  std::string failure;
};

// Frames above and below the size the module shares among its threads.
DWORD WINAPI host_thread(LPVOID arg) {
  HostThread& t = *static_cast<HostThread*>(arg);
  std::mt19937 rng(t.seed);
  Instance inst(t.def, static_cast<unsigned char>(t.seed));
  FilterFunctions ff = host_functions();
  if (t.def->initProc(&inst.fa, &ff) != 0) {
    t.failure = "initProc failed";
    return 0;
  }
  inst.replay_config(static_cast<int>(rng() % 420), static_cast<int>(rng() % 12));
  inst.settings()->showNoise = rng() % 3 == 0;
  const int sizes[][2] = {{720, 300}, {37, 9}, {640, 480}, {5, 3}};
  for (const auto& size : sizes) {
    const int w = size[0], h = size[1];
    const ptrdiff_t stride = (rng() % 2 ? -1 : 1) * static_cast<ptrdiff_t>(w + static_cast<int>(rng() % 4));
    const Placement placement = rng() % 2 ? Placement::kHighGuard : Placement::kLowGuard;
    GuardedFrame src(w, h, stride, placement), dst(w, h, stride, placement), want(w, h, stride, placement);
    fill_picture(src, rng());
    const uint64_t dst_seed = rng();
    dst.fill_all(dst_seed);
    want.fill_all(dst_seed);
    const std::vector<uint32_t> expect = reference_output(src, *inst.settings());
    for (int i = 0; i < h; ++i)
      for (int j = 0; j < w; ++j) want.at(i, j) = expect[static_cast<size_t>(i) * w + j];
    VFBitmap sb = bitmap_of(src), db = bitmap_of(dst);
    inst.fa.src = &sb;
    inst.fa.dst = &db;
    if (t.def->runProc(&inst.fa, &ff) != 0) t.failure = "runProc failed";
    ptrdiff_t diff = 0;
    if (!dst.same_bytes(want, &diff))
      t.failure = std::to_string(w) + "x" + std::to_string(h) + " stride " + std::to_string(static_cast<long long>(stride)) +
                  ": differs from the reference at word " + std::to_string(static_cast<long long>(diff));
    ++t.frames_done;
  }
  return 0;
}

void load_run_unload_loop(const std::string& vdf) {
  const int baseline = process_threads();
  CHECK(baseline > 0);
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const int processors = static_cast<int>(info.dwNumberOfProcessors);
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    harness::Row row("cycle " + std::to_string(cycle));
    {
      RegisteredFilter filter(vdf);
      CHECK(filter.ok());
      if (!filter.ok()) return;
      std::vector<HostThread> hosts(kHostThreads, HostThread{filter.def, 0, 0, std::string()});
      std::vector<HANDLE> handles;
      for (int k = 0; k < kHostThreads; ++k) {
        hosts[size_t(k)].seed = static_cast<unsigned>(cycle * 10 + k);
        handles.push_back(CreateThread(nullptr, 0, host_thread, &hosts[size_t(k)], 0, nullptr));
        CHECK(handles.back() != nullptr);
      }
      for (HANDLE h : handles)
        if (h != nullptr) {
          WaitForSingleObject(h, INFINITE);
          CloseHandle(h);
        }
      for (const HostThread& h : hosts) {
        CHECK_EQ(h.failure, std::string());
        CHECK_EQ(h.frames_done, 4);
      }
      // One worker per processor but the caller's own, while loaded.
      const int expected_workers = (processors > 64 ? 64 : processors) - 1;
      CHECK_EQ(process_threads(), baseline + expected_workers);
    }  // Deinit, then FreeLibrary
    CHECK_EQ(settled_threads(baseline), baseline);
    CHECK(GetModuleHandleA("noname.vdf") == nullptr);
  }
}

}  // namespace

void thread_cases(const std::string& vdf) {
  harness::run_case("worker threads: host threads at once, Deinit and unload in a loop",
                    [&] { load_run_unload_loop(vdf); });
}

}  // namespace wintest
