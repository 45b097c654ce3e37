// The capture's pixel work against the memory-bandwidth limit: each case
// next to a plain memcpy of the same bytes, measured in the same run. The
// image is a full 3024 × 1964 capture; the system's rows carry 64 bytes of
// padding.
//
// Run: image_bench --benchmark_repetitions=7 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <vector>

#include "image/conversion.h"
#include "image/downscale.h"

namespace kestrum::computer {
namespace {

constexpr std::uint64_t kWidth = 3024;
constexpr std::uint64_t kHeight = 1964;
constexpr std::uint64_t kRowBytes = kWidth * 4 + 64;
constexpr std::uint64_t kMaxSide = 1280;

std::vector<std::uint8_t> noise(std::size_t length) {
  std::mt19937 random(1);
  std::vector<std::uint8_t> bytes(length);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
  return bytes;
}

const std::vector<std::uint8_t>& captured() {
  static const std::vector<std::uint8_t> bytes = noise(kRowBytes * kHeight);
  return bytes;
}

const PixelImage& full_image() {
  static const PixelImage image{noise(kWidth * kHeight * 4), kWidth, kHeight};
  return image;
}

void copy_bytes(benchmark::State& state, const std::vector<std::uint8_t>& source) {
  std::vector<std::uint8_t> target(source.size(), 1);
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), source.size());
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * source.size()));
}

void BM_MemcpyCaptured(benchmark::State& state) { copy_bytes(state, captured()); }

// The conversion proper, on the copy the system just handed over.
void BM_ImageFromCapture(benchmark::State& state) {
  std::optional<Result<PixelImage>> image;
  for (auto _ : state) {
    state.PauseTiming();
    image.reset();
    CaptureDescription capture{kWidth, kHeight, kRowBytes, 32, captured()};
    state.ResumeTiming();
    image.emplace(image_from_capture(std::move(capture)));
    benchmark::DoNotOptimize((*image)->pixels.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * captured().size()));
}

// The system's copy into a fresh buffer and the conversion together: what
// a screenshot costs from the system's bytes to the payload.
void BM_CopyAndImageFromCapture(benchmark::State& state) {
  for (auto _ : state) {
    CaptureDescription capture{kWidth, kHeight, kRowBytes, 32, captured()};
    Result<PixelImage> image = image_from_capture(std::move(capture));
    benchmark::DoNotOptimize(image->pixels.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * captured().size()));
}

void BM_MemcpyImage(benchmark::State& state) { copy_bytes(state, full_image().pixels); }

void BM_Downscale(benchmark::State& state) {
  PixelImage scaled;
  for (auto _ : state) {
    state.PauseTiming();
    scaled = {};
    PixelImage source = full_image();
    state.ResumeTiming();
    scaled = downscale(std::move(source), kMaxSide);
    benchmark::DoNotOptimize(scaled.pixels.data());
  }
  state.SetBytesProcessed(
      static_cast<std::int64_t>(state.iterations() * full_image().pixels.size()));
}

BENCHMARK(BM_MemcpyCaptured)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImageFromCapture)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyAndImageFromCapture)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Downscale)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrum::computer

BENCHMARK_MAIN();
