// The clock and timing helpers the benchmark programs share.
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// The median time of runs calls of f, in milliseconds.
template <class F>
double MedianMs(int runs, F&& f) {
  std::vector<double> v;
  for (int i = 0; i < runs; ++i) {
    auto t0 = Clock::now();
    f();
    v.push_back(Ms(Clock::now() - t0));
  }
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace bench
