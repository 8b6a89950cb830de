// A description's changes as JSON values, for a program that writes them
// inside an answer of its own (WriteChanges writes them as a document).
#pragma once

#include "description.h"

#include <nlohmann/json_fwd.hpp>

namespace Description {

void to_json(nlohmann::json& out, const Change& change);
void from_json(const nlohmann::json& in, Change& change);

} // namespace Description
