#pragma once

// Properties of the JSON library on arbitrary text: parsing never crashes, throws nothing but
// the number conversions' exceptions and never moves past one byte beyond the text; the writer's
// text for a parsed tree parses back, without a diagnostic, to a tree with the same text; copies
// and moves behave as independent values. Trees are compared through the writer's text, which
// renders Reals to the six decimals a round trip keeps and is otherwise one-to-one for parsed
// trees (their keys are held escaped, so no key can fake a delimiter).

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "fuzz/fuzz_support.h"
#include "search/bm25/_json.h"

namespace orvel::fuzz {

namespace json_detail {

using orvel::typing::text::json::JSON;

// Whether the writer's text holds a NaN or an infinity: a bare "nan" or "inf" outside strings.
// Those are written in a form the parser rejects, so such trees do not come back.
inline bool HasNonFiniteReal(std::string_view text) {
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char ch = text[i];
    if (in_string) {
      if (ch == '\\') {
        ++i;
      } else if (ch == '"') {
        in_string = false;
      }
    } else if (ch == '"') {
      in_string = true;
    } else if (text.compare(i, 3, "nan") == 0 || text.compare(i, 3, "inf") == 0) {
      return true;
    }
  }
  return false;
}

inline void CheckValueSemantics(const JSON& tree, const std::string& text) {
  JSON copy(tree);
  Require(copy.dump() == text, "a copy writes the original's text");
  JSON assigned;
  assigned = tree;
  Require(assigned.dump() == text, "an assigned copy writes the original's text");
  const JSON& alias = assigned;
  assigned = alias;
  Require(assigned.dump() == text, "self-assignment keeps the value");

  // Assigning a value from one nested inside it must read the child before releasing it.
  JSON* child = nullptr;
  if (copy.GetKind() == JSON::Kind::Object) {
    for (auto& entry : copy.Entries()) {
      child = &entry.second;
      break;
    }
  } else if (copy.GetKind() == JSON::Kind::Array) {
    child = &copy[0u];
  }
  if (child != nullptr) {
    const std::string child_text = child->dump();
    copy = *child;
    Require(copy.dump() == child_text, "assignment from a nested value copies the nested value");
  }

  JSON moved(std::move(assigned));
  Require(assigned.GetKind() == JSON::Kind::Null, "a moved-from value is Null");
  Require(moved.dump() == text, "a move keeps the value");
  Require(tree.dump() == text, "copies share nothing with the original");
}

}  // namespace json_detail

inline void CheckJsonText(std::string_view data) {
  using json_detail::JSON;
  const std::string input(data);
  CerrCapture quiet;
  JSON tree;
  try {
    std::size_t pos = 0;
    tree = orvel::typing::text::json::parse_next(input, pos);
    Require(pos <= input.size() + 1, "the position stays within one byte past the text");
  } catch (const std::invalid_argument&) {
    return;  // a number with no valid prefix: documented, nothing left to check
  } catch (const std::out_of_range&) {
    return;  // a number outside its type's range: documented
  }

  const std::string text = tree.dump();
  json_detail::CheckValueSemantics(tree, text);

  // A number alone is not followed by the separator the parser needs to end it.
  const JSON::Kind kind = tree.GetKind();
  if (kind == JSON::Kind::Integer || kind == JSON::Kind::Real) return;

  CerrCapture diagnostics;
  const JSON reread = JSON::Load(text);  // no exponent in written text, so no conversion throws
  if (json_detail::HasNonFiniteReal(text)) return;
  Require(diagnostics.text().empty(), "written text parses without a diagnostic");
  Require(reread.dump() == text, "written text parses back to the same tree");
}

}  // namespace orvel::fuzz
