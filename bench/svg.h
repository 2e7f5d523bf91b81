// The picture of a bench run: latency percentiles against the number of
// touchscreens, and at 33 touchscreens against the offered rate, program and
// floor side by side.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "measure.h"

namespace bench {

using ProgramAndFloor = std::pair<StreamResult, StreamResult>;

std::string picture(const std::vector<ProgramAndFloor>& by_screens, const std::vector<ProgramAndFloor>& by_rate,
                    const nlohmann::ordered_json& machine, bool quick);

}  // namespace bench
