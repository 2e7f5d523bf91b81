// The picture of a bench run: latency percentiles against the number of
// touchscreens, and at 33 touchscreens against the offered rate, program,
// floor and design floor side by side.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "measure.h"

namespace bench {

std::string picture(const std::vector<StreamSides>& by_screens, const std::vector<StreamSides>& by_rate,
                    const nlohmann::ordered_json& machine, bool quick);

}  // namespace bench
