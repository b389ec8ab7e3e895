// kvq-fuzz: random key sequences on the simulated boards, every pass
// audited. Exits 1 with the shortest failing key sequence.
//
//   kvq-fuzz [--sequences N] [--seed S] [--keys K] [--require-coverage]
//   kvq-fuzz --replay SEED [--keys K]     one sequence, every pass printed
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "tests/fuzz/fuzzer.h"

namespace {

using kvq::fuzz::Coverage;

// The seed of sequence i of a run: neighbouring runs share no sequence.
uint64_t sequence_seed(uint64_t seed, long i) { return seed * 1000003ull + static_cast<uint64_t>(i); }

int usage() {
  std::fprintf(stderr,
               "usage: kvq-fuzz [--sequences N] [--seed S] [--keys K] [--require-coverage]\n"
               "       kvq-fuzz --replay SEED [--keys K]\n");
  return 2;
}

int report_failure(uint64_t seed, const kvq::fuzz::Sequence& seq) {
  const kvq::fuzz::Failure& f = *seq.result.failure;
  std::printf("FAILED (%s): %s\n  board %s, sequence seed %llu (kvq-fuzz --replay %llu)\n", f.check.c_str(),
              f.detail.c_str(), kvq::fuzz::board_name(seq.kind), static_cast<unsigned long long>(seed),
              static_cast<unsigned long long>(seed));
  std::fflush(stdout);
  const kvq::fuzz::Script shortest = kvq::fuzz::shrink(seq.kind, seq.script, f.check);
  const kvq::fuzz::RunResult again = kvq::fuzz::run_script(seq.kind, shortest);
  std::printf("  shortest key sequence (%zu steps): %s\n", shortest.size(), kvq::fuzz::describe(shortest).c_str());
  if (again.failure) std::printf("  which fails with: %s\n", again.failure->detail.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  long sequences = 300;
  uint64_t seed = 1;
  long keys = 300;
  bool replay = false;
  bool require_coverage = false;
  for (int i = 1; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    if (!std::strcmp(argv[i], "--sequences") && has_value) sequences = std::strtol(argv[++i], nullptr, 0);
    else if (!std::strcmp(argv[i], "--seed") && has_value) seed = std::strtoull(argv[++i], nullptr, 0);
    else if (!std::strcmp(argv[i], "--keys") && has_value) keys = std::strtol(argv[++i], nullptr, 0);
    else if (!std::strcmp(argv[i], "--replay") && has_value) replay = true, seed = std::strtoull(argv[++i], nullptr, 0);
    else if (!std::strcmp(argv[i], "--require-coverage")) require_coverage = true;
    else return usage();
  }

  if (replay) {
    const kvq::fuzz::Sequence seq = kvq::fuzz::generate(seed, keys, {}, &std::cout);
    std::printf("board %s: %s\n", kvq::fuzz::board_name(seq.kind), kvq::fuzz::describe(seq.script).c_str());
    if (seq.result.failure) return report_failure(seed, seq);
    std::printf("%ld passes, %ld keys: no failure\n", seq.result.passes, seq.result.keys);
    return 0;
  }

  const auto start = std::chrono::steady_clock::now();
  Coverage coverage;
  long passes = 0;
  long taken = 0;
  for (long i = 0; i < sequences; ++i) {
    const uint64_t s = sequence_seed(seed, i);
    const kvq::fuzz::Sequence seq = kvq::fuzz::generate(s, keys, {}, nullptr, &coverage);
    passes += seq.result.passes;
    taken += seq.result.keys;
    if (seq.result.failure) return report_failure(s, seq);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%ld sequences, %ld keys, %ld passes in %.1f s (seed %llu): no failure\n", sequences, taken, passes,
              seconds, static_cast<unsigned long long>(seed));
  const auto gaps = coverage.missing();
  for (const std::string& g : gaps) std::printf("not reached: %s\n", g.c_str());
  return require_coverage && !gaps.empty() ? 1 : 0;
}
