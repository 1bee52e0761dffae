// The text and JSON forms velctl prints a variable tree in: one node a line, indented by depth,
// as "name = value" (texts quoted, numbers as the node's format gives them, "<data N bytes>",
// "<attached dest:reg:count>", "<branch>").
#pragma once

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

class CtVar;

namespace velctl {

std::string ShowValue(CtVar& node);
// The children of node and their subtrees.
void PrintTree(CtVar& node, int depth, std::ostream& out);
// {"name", "value", "children": [...]} for node's children; the value as a JSON number, text or
// null for a branch.
nlohmann::json TreeJson(CtVar& node);
nlohmann::json ValueJson(CtVar& node);

}  // namespace velctl
