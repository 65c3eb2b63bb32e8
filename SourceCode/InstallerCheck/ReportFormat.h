// The three forms of a report: plain text for a person, one JSON object for a pipeline, and the
// one line a detection script prints when the state is verified.
#pragma once

#include <string>

#include "CheckReport.h"

std::u16string ReportText(const Report& report);
std::u16string ReportJson(const Report& report);
std::u16string DetectLine(const Report& report);
