// The simulated accessibility world's builders, as the tests write them; in
// the including file's unnamed namespace so that they come before the agent's
// names of the same spelling.
#pragma once

#include "sim/accessibility.h"

#include <string>
#include <vector>

namespace {
using sim::ax::answer;
using sim::ax::Attribute;
using sim::ax::element;
using sim::ax::failure;
using sim::ax::NodePtr;
using sim::ax::Switch;
using sim::ax::Value;
using sim::ax::webArea;
using Urls = std::vector<std::string>;
}  // namespace
