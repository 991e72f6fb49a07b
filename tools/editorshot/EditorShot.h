// The editor as a picture: a fresh plugin's view at a program and scale.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nimbo::editor {

// The program the README's picture shows (zero-based).
constexpr int kShotProgram = 0;

// RGBA bytes, row by row.
std::vector<uint8_t> ShotRgba(int program, double scale, int& width, int& height);
bool WritePng(const std::string& path, const std::vector<uint8_t>& rgba, int width, int height);
// Null on failure.
std::vector<uint8_t> ReadPng(const std::string& path, int& width, int& height);

}  // namespace nimbo::editor
