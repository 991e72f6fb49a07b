#include "OctaveFilter.h"

#include <cmath>
#include <complex>
#include <numbers>

namespace nimboanalysis {

namespace {

constexpr int kOrder = 3;  // per low-pass prototype; the band-pass has twice as many poles
const double kOctaveRatio = std::pow(10.0, 0.3);

std::complex<double> Response(const std::vector<sBiquad>& sections, double hz, double sampleRate) {
  const std::complex<double> z1 = std::polar(1.0, -2.0 * std::numbers::pi * hz / sampleRate);  // z^-1
  const std::complex<double> z2 = z1 * z1;
  std::complex<double> h = 1.0;
  for (const sBiquad& s : sections) h *= (s.b0 + s.b1 * z1 + s.b2 * z2) / (1.0 + s.a1 * z1 + s.a2 * z2);
  return h;
}

}  // namespace

const std::array<sOctaveBand, kNumBands>& OctaveBands() {
  static const std::array<sOctaveBand, kNumBands> kBands = [] {
    const char* const names[kNumBands] = {"63 Hz", "125 Hz", "250 Hz", "500 Hz", "1 kHz", "2 kHz", "4 kHz", "8 kHz"};
    std::array<sOctaveBand, kNumBands> bands{};
    for (int i = 0; i < kNumBands; ++i) {
      const double centre = 1000.0 * std::pow(kOctaveRatio, i - 4);
      const double half = std::sqrt(kOctaveRatio);
      bands[static_cast<size_t>(i)] = {names[i], centre, centre / half, centre * half};
    }
    return bands;
  }();
  return kBands;
}

bool BandFits(const sOctaveBand& band, double sampleRate) { return band.upperHz < 0.5 * sampleRate; }

std::vector<sBiquad> DesignOctaveFilter(const sOctaveBand& band, double sampleRate) {
  // Analogue band edges pre-warped so the bilinear transform puts them back where they belong.
  const double fs2 = 2.0 * sampleRate;
  const double w1 = fs2 * std::tan(std::numbers::pi * band.lowerHz / sampleRate);
  const double w2 = fs2 * std::tan(std::numbers::pi * band.upperHz / sampleRate);
  const double w0squared = w1 * w2;
  const double width = w2 - w1;

  // Each prototype pole p becomes the two roots of s^2 - p B s + w0^2; the
  // bilinear transform maps them into z. The upper half-plane poles each get
  // a biquad with one zero at DC and one at Nyquist.
  std::vector<sBiquad> sections;
  for (int k = 0; k < kOrder; ++k) {
    const std::complex<double> p = std::polar(1.0, std::numbers::pi * (2.0 * k + kOrder + 1) / (2.0 * kOrder));
    const std::complex<double> root = std::sqrt(p * p * width * width - 4.0 * w0squared);
    for (const std::complex<double> s : {(p * width + root) * 0.5, (p * width - root) * 0.5}) {
      const std::complex<double> z = (fs2 + s) / (fs2 - s);
      if (z.imag() <= 0.0) continue;
      sections.push_back({1.0, 0.0, -1.0, -2.0 * z.real(), std::norm(z)});
    }
  }
  const double gain = 1.0 / std::abs(Response(sections, band.centreHz, sampleRate));
  const double perSection = std::cbrt(gain);
  for (sBiquad& s : sections) {
    s.b0 *= perSection;
    s.b2 *= perSection;
  }
  return sections;
}

double Magnitude(const std::vector<sBiquad>& sections, double hz, double sampleRate) {
  return std::abs(Response(sections, hz, sampleRate));
}

double GroupDelay(const std::vector<sBiquad>& sections, double hz, double sampleRate) {
  const double step = 1e-3 * hz;
  const double turn = std::arg(Response(sections, hz + step, sampleRate) / Response(sections, hz - step, sampleRate));
  return -turn / (2.0 * std::numbers::pi * 2.0 * step);
}

void FilterBackwards(const std::vector<sBiquad>& sections, std::span<double> signal) {
  for (const sBiquad& s : sections) {
    double s1 = 0.0, s2 = 0.0;
    for (size_t i = signal.size(); i-- > 0;) {
      const double x = signal[i];
      const double y = s.b0 * x + s1;
      s1 = s.b1 * x - s.a1 * y + s2;
      s2 = s.b2 * x - s.a2 * y;
      signal[i] = y;
    }
  }
}

}  // namespace nimboanalysis
