// The analysis for people (a table) and for programs (JSON; the README
// documents its fields).
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "RoomAnalysis.h"

namespace nimboanalysis {

std::string FormatTable(const sAnalysis& analysis);

// A value or the reason there is none, as the JSON carries it.
// object[key] is the value, or null with the reason in object["missing"][key].
void PutMeasure(nlohmann::json& object, const char* key, const sMeasure& measure, int decimals);

nlohmann::json AnalysisJson(const sAnalysis& analysis);

}  // namespace nimboanalysis
