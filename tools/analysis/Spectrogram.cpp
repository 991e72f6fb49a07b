#include "Spectrogram.h"

#include <fftw3.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <memory>
#include <numbers>

namespace nimboanalysis {

namespace {

constexpr size_t kFftSize = 2048;  // 43 ms at 48 kHz: fine enough in time and in frequency for a reverb tail
constexpr double kLowestHz = 20.0;

struct sFftwFree {
  void operator()(void* p) const { fftw_free(p); }
};
struct sPlanDestroy {
  void operator()(fftw_plan p) const { fftw_destroy_plan(p); }
};

}  // namespace

sSpectrogram MeasureSpectrogram(std::span<const std::span<const float>> responses, size_t onset, size_t end,
                                double sampleRate, size_t maxFrames, size_t rows) {
  sSpectrogram spectrogram;
  const double highest = std::min(20000.0, 0.5 * sampleRate);
  if (rows == 0 || maxFrames == 0 || !(highest > kLowestHz)) return spectrogram;

  std::unique_ptr<double, sFftwFree> in(static_cast<double*>(fftw_malloc(sizeof(double) * kFftSize)));
  std::unique_ptr<fftw_complex, sFftwFree> out(
      static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * (kFftSize / 2 + 1))));
  std::unique_ptr<std::remove_pointer_t<fftw_plan>, sPlanDestroy> plan(
      fftw_plan_dft_r2c_1d(static_cast<int>(kFftSize), in.get(), out.get(), FFTW_ESTIMATE));

  std::vector<double> window(kFftSize);
  for (size_t k = 0; k < kFftSize; ++k) {
    window[k] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(kFftSize));
  }

  // Rows: log-spaced centres, each the mean of the bins within half a row
  // spacing of it, or the nearest bin where none is that close.
  const double spacing = std::log(highest / kLowestHz) / static_cast<double>(rows);
  const double binHz = sampleRate / static_cast<double>(kFftSize);
  std::vector<std::pair<size_t, size_t>> binsOfRow(rows);
  spectrogram.frequenciesHz.resize(rows);
  for (size_t r = 0; r < rows; ++r) {
    const double centre = kLowestHz * std::exp(spacing * (static_cast<double>(r) + 0.5));
    spectrogram.frequenciesHz[r] = centre;
    const auto lo = static_cast<size_t>(std::ceil(centre * std::exp(-0.5 * spacing) / binHz));
    const auto hi = static_cast<size_t>(std::floor(centre * std::exp(0.5 * spacing) / binHz));
    const size_t nearest = std::min(kFftSize / 2, static_cast<size_t>(std::lround(centre / binHz)));
    binsOfRow[r] = lo <= hi ? std::pair{lo, std::min(hi, kFftSize / 2)} : std::pair{nearest, nearest};
  }

  const size_t lead = kFftSize / 2;
  const size_t first = onset > lead ? onset - lead : 0;
  const size_t span = std::max(end, first + kFftSize) - first;
  const size_t hop = std::max<size_t>(kFftSize / 8, (span + maxFrames - 1) / maxFrames);
  spectrogram.frames = std::max<size_t>(1, (span + hop - 1) / hop);
  spectrogram.stepSeconds = static_cast<double>(hop) / sampleRate;
  spectrogram.startSeconds = (static_cast<double>(first + kFftSize / 2) - static_cast<double>(onset)) / sampleRate;

  std::vector<double> power(spectrogram.frames * rows, 0.0);
  std::vector<double> bins(kFftSize / 2 + 1);
  for (size_t f = 0; f < spectrogram.frames; ++f) {
    std::fill(bins.begin(), bins.end(), 0.0);
    for (const auto& response : responses) {
      for (size_t k = 0; k < kFftSize; ++k) {
        const size_t i = first + f * hop + k;
        in.get()[k] = i < response.size() ? window[k] * response[i] : 0.0;
      }
      fftw_execute(plan.get());
      for (size_t b = 0; b < bins.size(); ++b) {
        bins[b] += out.get()[b][0] * out.get()[b][0] + out.get()[b][1] * out.get()[b][1];
      }
    }
    for (size_t r = 0; r < rows; ++r) {
      const auto [lo, hi] = binsOfRow[r];
      double sum = 0.0;
      for (size_t b = lo; b <= hi; ++b) sum += bins[b];
      power[f * rows + r] = sum / static_cast<double>(hi - lo + 1);
    }
  }
  const double loudest = *std::max_element(power.begin(), power.end());
  spectrogram.db.resize(power.size());
  for (size_t i = 0; i < power.size(); ++i) {
    const double db = loudest > 0.0 && power[i] > 0.0 ? 10.0 * std::log10(power[i] / loudest) : -1e9;
    spectrogram.db[i] = static_cast<float>(std::max(db, static_cast<double>(sSpectrogram::kFloorDb)));
  }
  return spectrogram;
}

}  // namespace nimboanalysis

namespace nimboanalysis {

sMagnitudeResponse MeasureMagnitudeResponse(std::span<const float> response, double sampleRate, size_t points) {
  sMagnitudeResponse result;
  const double highest = 0.5 * sampleRate;
  if (response.size() < 2 || points < 2 || !(highest > kLowestHz)) return result;
  const size_t n = std::bit_ceil(response.size());  // zero-padded: a size FFTW is fast at, whatever the length
  std::unique_ptr<double, sFftwFree> in(static_cast<double*>(fftw_malloc(sizeof(double) * n)));
  std::unique_ptr<fftw_complex, sFftwFree> out(static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * (n / 2 + 1))));
  std::unique_ptr<std::remove_pointer_t<fftw_plan>, sPlanDestroy> plan(
      fftw_plan_dft_r2c_1d(static_cast<int>(n), in.get(), out.get(), FFTW_ESTIMATE));
  std::fill_n(std::copy(response.begin(), response.end(), in.get()), n - response.size(), 0.0);
  fftw_execute(plan.get());
  const double binHz = sampleRate / static_cast<double>(n);
  const double halfWidth = std::pow(2.0, 1.0 / 48.0);
  for (size_t k = 0; k < points; ++k) {
    const double f = kLowestHz * std::pow(highest / kLowestHz, static_cast<double>(k) / static_cast<double>(points - 1));
    const auto from = static_cast<size_t>(std::max(0.0, std::floor(f / halfWidth / binHz)));
    const auto to = std::min(n / 2, std::max(from, static_cast<size_t>(std::ceil(f * halfWidth / binHz))));
    double power = 0.0;
    for (size_t b = from; b <= to; ++b) power += out.get()[b][0] * out.get()[b][0] + out.get()[b][1] * out.get()[b][1];
    power /= static_cast<double>(to - from + 1);
    result.frequenciesHz.push_back(f);
    result.db.push_back(power > 0.0 ? std::max(sSpectrogram::kFloorDb, static_cast<float>(10.0 * std::log10(power)))
                                    : sSpectrogram::kFloorDb);
  }
  return result;
}

}  // namespace nimboanalysis
