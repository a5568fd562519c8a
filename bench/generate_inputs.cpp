// Inputs for the benchmarks and the example: the principal-component
// projection of a simulated trajectory, a particle diffusing through a
// potential of a few wells, so that frames gather in metastable states and
// hop between them now and then.
//
//   generate_inputs table  N D [SEED]   labelled PC vectors: "%d" then D × " %12.6f"
//   generate_inputs points N C [SEED]   C = 2: "x y"; C = 3: "x y z" with z > 0
//   generate_inputs words  N L [SEED]   words of L letters of the 52-letter code,
//                                       of random letters (nearly all distinct)
//
// The same N and SEED give the same trajectory.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string_view>

namespace {

constexpr int MAX_DIM = 10;
constexpr int WELLS = 5;
constexpr int WELL_DIMS = 3;  // the wells lie in the first three components

// Well centres in the first three dimensions; the other dimensions are
// harmonic, each narrower than the one before, as a PCA orders them.
constexpr double CENTRES[WELLS][WELL_DIMS] = {
    {-2.0, -1.0, 0.0}, {2.0, -1.2, 0.5}, {0.0, 2.0, -0.5}, {-1.5, 1.8, 1.0}, {1.6, 1.5, -1.0}};
constexpr double WELL_WIDTH = 0.7;
constexpr double TEMPERATURE = 0.30;
constexpr double BARRIER = 2.2;  // depth of the wells, in units of the temperature
constexpr double TIME_STEP = 0.01;
constexpr int STEPS_PER_FRAME = 10;

struct Trajectory {
  double x[MAX_DIM];
  std::mt19937_64 random;
  std::normal_distribution<double> noise{0.0, 1.0};
};

// Force of the potential -T log sum_w exp(-|x - c_w|^2 / (2 s^2)) in the
// well dimensions, and of k_d x_d^2 / 2 in the others.
void step(Trajectory& t) {
  double weights[WELLS];
  double largest = -1e300;
  for (int w = 0; w < WELLS; ++w) {
    double r2 = 0;
    for (int d = 0; d < WELL_DIMS; ++d) r2 += (t.x[d] - CENTRES[w][d]) * (t.x[d] - CENTRES[w][d]);
    weights[w] = -r2 / (2 * WELL_WIDTH * WELL_WIDTH);
    largest = std::max(largest, weights[w]);
  }
  double total = 0;
  for (double& w : weights) total += (w = std::exp(w - largest));
  const double kick = std::sqrt(2 * TEMPERATURE * TIME_STEP);
  for (int d = 0; d < MAX_DIM; ++d) {
    double force = 0;
    if (d < WELL_DIMS) {
      for (int w = 0; w < WELLS; ++w) force += weights[w] / total * (CENTRES[w][d] - t.x[d]);
      force *= BARRIER * TEMPERATURE / (WELL_WIDTH * WELL_WIDTH);
    } else {
      force = -(1.0 + d) * t.x[d];
    }
    t.x[d] += force * TIME_STEP + kick * t.noise(t.random);
  }
}

// Free energy-like, positive everywhere: the distance to the nearest well.
double positive_z(const Trajectory& t) {
  double nearest = 1e300;
  for (const auto& c : CENTRES) {
    double r2 = 0;
    for (int d = 0; d < WELL_DIMS; ++d) r2 += (t.x[d] - c[d]) * (t.x[d] - c[d]);
    nearest = std::min(nearest, r2);
  }
  return 0.1 + nearest;
}

char* put_fixed(char* out, double value, int width, int precision) {
  char text[64];
  const auto end =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, precision).ptr;
  const int length = static_cast<int>(end - text);
  for (int pad = width - length; pad > 0; --pad) *out++ = ' ';
  return std::copy(text, end, out);
}

[[noreturn]] void usage() {
  std::fputs(
      "usage: generate_inputs table N D [SEED] | points N COLUMNS [SEED] | words N L [SEED]\n",
      stderr);
  std::exit(2);
}

long number(const char* text, long lo, long hi) {
  long value = 0;
  const auto [end, error] = std::from_chars(text, text + std::strlen(text), value);
  if (error != std::errc{} || *end != '\0' || value < lo || value > hi) usage();
  return value;
}

// Random words, the hardest input of a word counter: few repeats.
int write_random_words(long n, long letters, unsigned long seed) {
  constexpr char CODE[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  std::mt19937_64 random(seed);
  static char buffer[1 << 16];
  std::size_t used = 0;
  for (long i = 0; i < n; ++i) {
    std::uint64_t bits = random();
    for (long l = 0; l < letters; ++l) {
      if (l == 8) bits = random();  // 8 letters of 6 bits from each draw
      buffer[used++] = CODE[(bits & 63) % 52];
      bits >>= 6;
    }
    buffer[used++] = '\n';
    if (used > sizeof buffer - 16) {
      std::fwrite(buffer, 1, used, stdout);
      used = 0;
    }
  }
  std::fwrite(buffer, 1, used, stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) usage();
  const std::string_view kind = argv[1];
  const long n = number(argv[2], 1, 100'000'000);
  const bool table = kind == "table";
  if (kind == "words") {
    const long letters = number(argv[3], 1, MAX_DIM);
    return write_random_words(n, letters, argc == 5 ? number(argv[4], 0, 1L << 40) : 1);
  }
  if (!table && kind != "points") usage();
  const long width = table ? number(argv[3], 1, MAX_DIM) : number(argv[3], 2, 3);
  Trajectory t{};
  t.random.seed(argc == 5 ? static_cast<unsigned long>(number(argv[4], 0, 1L << 40)) : 1);
  std::copy(std::begin(CENTRES[0]), std::end(CENTRES[0]), t.x);

  static char buffer[1 << 16];
  char* out = buffer;
  for (long frame = 1; frame <= n; ++frame) {
    for (int s = 0; s < STEPS_PER_FRAME; ++s) step(t);
    if (table) {
      out = std::to_chars(out, out + 24, frame).ptr;
      for (int d = 0; d < width; ++d) {
        *out++ = ' ';
        out = put_fixed(out, t.x[d], 12, 6);
      }
    } else {
      out = put_fixed(out, t.x[0], 0, 6);
      *out++ = ' ';
      out = put_fixed(out, t.x[1], 0, 6);
      if (width == 3) {
        *out++ = ' ';
        out = put_fixed(out, positive_z(t), 0, 6);
      }
    }
    *out++ = '\n';
    if (out - buffer > static_cast<long>(sizeof buffer) - 512) {
      std::fwrite(buffer, 1, static_cast<std::size_t>(out - buffer), stdout);
      out = buffer;
    }
  }
  std::fwrite(buffer, 1, static_cast<std::size_t>(out - buffer), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
