// The analysis for people (a table) and for programs (JSON; the README
// documents its fields).
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "RoomAnalysis.h"

namespace nimboanalysis {

std::string FormatTable(const sAnalysis& analysis);

// A value or the reason there is none, as the JSON carries it.
nlohmann::json MeasureJson(const sMeasure& measure, int decimals);

nlohmann::json AnalysisJson(const sAnalysis& analysis);

}  // namespace nimboanalysis
