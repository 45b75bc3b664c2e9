// The two readers of model text must agree: the fast reader of the plain form may only accept a
// text that the lenient parser loads without a diagnostic, and must then give the very same
// model. Each case below edits one number, key or ending of a plain model text and runs the
// result through both readers (and through BM25::load, which picks one).

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "cerr_capture.h"
#include "search/bm25/bm25.h"
#include "search/bm25/model_file.h"

namespace {

using orvel::typing::text::BM25;
using orvel::typing::text::ModelScalars;
using orvel::typing::text::ParsedModelText;
using orvel::typing::text::PlainModelText;

enum class Outcome {
  kLoads,                // loads, no diagnostic
  kLoadsWithDiagnostic,  // loads, but the parser complained on the way
  kLoadFails,            // std::runtime_error "load ... failed"
  kInvalidArgument,      // a conversion found no number (Python ValueError)
  kOutOfRange,           // a conversion overflowed (Python IndexError)
};

const char* Name(Outcome outcome) {
  switch (outcome) {
    case Outcome::kLoads:
      return "loads";
    case Outcome::kLoadsWithDiagnostic:
      return "loads with a diagnostic";
    case Outcome::kLoadFails:
      return "load fails";
    case Outcome::kInvalidArgument:
      return "invalid_argument";
    case Outcome::kOutOfRange:
      return "out_of_range";
  }
  return "?";
}

struct Contents {
  std::map<std::string, int64_t> table;
  ModelScalars scalars;
};

bool SameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

bool operator==(const Contents& a, const Contents& b) {
  return a.table == b.table && a.scalars.doc_count == b.scalars.doc_count &&
         SameBits(a.scalars.doc_length_average, b.scalars.doc_length_average) &&
         SameBits(a.scalars.b, b.scalars.b) && SameBits(a.scalars.k1, b.scalars.k1);
}

template <typename Reader>
Contents ContentsOf(Reader& reader) {
  Contents contents;
  reader.visit_table([&](std::string_view token, int64_t count) {
    contents.table[std::string(token)] = count;  // a repeated key: the last one wins
  });
  contents.scalars = reader.scalars();
  return contents;
}

struct ParserResult {
  Outcome outcome;
  Contents contents;
};

ParserResult ReadWithParser(const std::string& text) {
  CerrCapture diagnostics;
  try {
    ParsedModelText parsed(text);
    return {diagnostics.text().empty() ? Outcome::kLoads : Outcome::kLoadsWithDiagnostic,
            ContentsOf(parsed)};
  } catch (const std::invalid_argument&) {
    return {Outcome::kInvalidArgument, {}};
  } catch (const std::out_of_range&) {
    return {Outcome::kOutOfRange, {}};
  } catch (const std::runtime_error&) {
    return {Outcome::kLoadFails, {}};
  }
}

Outcome LoadOutcome(const std::string& text) {
  BM25 model(0.75, 1.2);
  CerrCapture diagnostics;
  try {
    model.load(text);
    return diagnostics.text().empty() ? Outcome::kLoads : Outcome::kLoadsWithDiagnostic;
  } catch (const std::invalid_argument&) {
    return Outcome::kInvalidArgument;
  } catch (const std::out_of_range&) {
    return Outcome::kOutOfRange;
  } catch (const std::runtime_error&) {
    return Outcome::kLoadFails;
  }
}

// A plain model text as dump writes it, with one table entry.
std::string ModelText(const std::string& b, const std::string& key, const std::string& count) {
  return "{\n  \"_b\" : " + b +
         ",\n  \"_doc_count\" : 2,\n  \"_doc_length_average\" : 2.000000,\n"
         "  \"_doc_token_frequency\" : {\n    \"" +
         key + "\" : " + count + "\n  },\n  \"_k1\" : 1.200000\n}";
}

struct Case {
  std::string text;
  Outcome expected;
};

// Asserts the expected outcome from the parser and from load, that the fast reader accepts
// exactly the texts the parser loads cleanly, and that both then give the same contents.
void ExpectReadersAgree(const Case& test) {
  SCOPED_TRACE(test.text);
  const ParserResult parsed = ReadWithParser(test.text);
  EXPECT_STREQ(Name(parsed.outcome), Name(test.expected));
  EXPECT_STREQ(Name(LoadOutcome(test.text)), Name(test.expected));
  PlainModelText plain(test.text);
  const bool accepted = plain.read();
  EXPECT_EQ(accepted, parsed.outcome == Outcome::kLoads);
  if (accepted && parsed.outcome == Outcome::kLoads) {
    EXPECT_TRUE(ContentsOf(plain) == parsed.contents);
  }
}

// The b a text loads to, by the fast reader; NaN when it does not accept the text.
double FastB(const std::string& text) {
  PlainModelText plain(text);
  return plain.read() ? plain.scalars().b : std::nan("");
}

int64_t FastCount(const std::string& text, const std::string& key) {
  PlainModelText plain(text);
  if (!plain.read()) return -1;
  return ContentsOf(plain).table[key];
}

// Faults caught: a fast reader that takes a number form the parser refuses (such as "1.0e",
// whose exponent has no digits), that reads a sign, a leading zero or a second point
// differently, or that accepts a value the parser's conversions cannot represent.
TEST(ModelReaders, AgreeOnRealNumbers) {
  const std::vector<std::pair<std::string, Outcome>> reals = {
      {"0.75", Outcome::kLoads},
      {"-0.75", Outcome::kLoads},
      {"-0.0", Outcome::kLoads},
      {"00.5", Outcome::kLoads},   // leading zeros
      {"-.5", Outcome::kLoads},    // no integer digits
      {"1.", Outcome::kLoads},     // no fraction digits
      {"1.2.3", Outcome::kLoads},  // the longest valid prefix: 1.2
      {"1.-5", Outcome::kLoads},   // '-' inside the mantissa: 1.0
      {"1.5e2", Outcome::kLoads},  // exponents
      {"1.5E+2", Outcome::kLoads},
      {"1.5e-2", Outcome::kLoads},
      {"2e0", Outcome::kLoads},             // an exponent makes a Real
      {"1.0e", Outcome::kInvalidArgument},  // an exponent without digits
      {"1.0e+", Outcome::kInvalidArgument},
      {"1.0e-", Outcome::kInvalidArgument},
      {"--1.0", Outcome::kInvalidArgument},  // no valid prefix
      {"-", Outcome::kInvalidArgument},
      {"1.0e99999999999999999999", Outcome::kOutOfRange},  // the exponent overflows
      {"1" + std::string(400, '0') + ".0", Outcome::kOutOfRange},
      {"0." + std::string(400, '0') + "1", Outcome::kOutOfRange},  // underflow
      {"1.0e400", Outcome::kLoadFails},                            // infinite: b must be finite
      {"1", Outcome::kLoadFails},     // an Integer where a Real belongs
      {"1.0x", Outcome::kLoadFails},  // a diagnostic, then b is Null
      {"1.0ex", Outcome::kLoadFails},
      {".5", Outcome::kLoadFails},
      {"+1.0", Outcome::kLoadFails},
  };
  for (const auto& [real, expected] : reals)
    ExpectReadersAgree({ModelText(real, "a", "1"), expected});

  EXPECT_EQ(FastB(ModelText("00.5", "a", "1")), 0.5);
  EXPECT_EQ(FastB(ModelText("1.2.3", "a", "1")), 1.2);
  EXPECT_EQ(FastB(ModelText("1.-5", "a", "1")), 1.0);
  EXPECT_EQ(FastB(ModelText("1.5E+2", "a", "1")), 150.0);
  EXPECT_TRUE(std::signbit(FastB(ModelText("-0.0", "a", "1"))));
}

// Faults caught: a fast reader that reads a leading zero, a '-' inside the digits or the
// 64-bit limits differently from the parser, or that accepts a negative or Real count.
TEST(ModelReaders, AgreeOnCounts) {
  const std::vector<std::pair<std::string, Outcome>> counts = {
      {"3", Outcome::kLoads},
      {"007", Outcome::kLoads},
      {"0", Outcome::kLoads},
      {"-0", Outcome::kLoads},
      {"1-2", Outcome::kLoads},  // the longest valid prefix: 1
      {"9223372036854775807", Outcome::kLoads},
      {"9223372036854775808", Outcome::kOutOfRange},
      {"99999999999999999999", Outcome::kOutOfRange},
      {"3e99999999999999999999", Outcome::kOutOfRange},
      {"3e", Outcome::kInvalidArgument},
      {"-", Outcome::kInvalidArgument},
      {"-1", Outcome::kLoadFails},  // negative
      {"-9223372036854775808", Outcome::kLoadFails},
      {"3.0", Outcome::kLoadFails},  // a Real where an Integer belongs
      {"3e0", Outcome::kLoadFails},
  };
  for (const auto& [count, expected] : counts) {
    ExpectReadersAgree({ModelText("0.75", "a", count), expected});
  }
  EXPECT_EQ(FastCount(ModelText("0.75", "a", "007"), "a"), 7);
  EXPECT_EQ(FastCount(ModelText("0.75", "a", "1-2"), "a"), 1);
  EXPECT_EQ(FastCount(ModelText("0.75", "a", "9223372036854775807"), "a"), INT64_MAX);
}

// Faults caught: a fast reader that decodes an escape differently from the parser (or drops
// one), decodes \u (the parser keeps the six characters), or accepts a key the parser cuts
// short with a diagnostic.
TEST(ModelReaders, AgreeOnEveryEscapeInAKey) {
  const std::vector<std::pair<std::string, std::string>> keys = {
      {"plain", "plain"},
      {"q\\\"q", "q\"q"},
      {"s\\\\s", "s\\s"},
      {"s\\/s", "s/s"},
      {"x\\by", "x\by"},
      {"x\\fy", "x\fy"},
      {"x\\ny", "x\ny"},
      {"x\\ry", "x\ry"},
      {"x\\ty", "x\ty"},
      {"\\u00e9", "\\u00e9"},  // kept as six characters
      {"\\u00E9", "\\u00E9"},
      {"x\\qy", "x\\y"},  // an unknown escape leaves the backslash, drops the letter
      {"raw\x01\x7f\xc3\xa9", "raw\x01\x7f\xc3\xa9"},
  };
  for (const auto& [written, token] : keys) {
    const std::string text = ModelText("0.75", written, "1");
    ExpectReadersAgree({text, Outcome::kLoads});
    EXPECT_EQ(FastCount(text, token), 1) << written;
  }
  // A \u with a byte that is not a hexadecimal digit: a diagnostic, and the table is cut.
  ExpectReadersAgree({ModelText("0.75", "\\u00g9", "1"), Outcome::kLoadFails});
  // A root key spelt with an escape is not the key the format names.
  std::string escaped_root = ModelText("0.75", "a", "1");
  escaped_root.replace(escaped_root.find("\"_b\""), 4, "\"\\u005fb\"");
  ExpectReadersAgree({escaped_root, Outcome::kLoadFails});
}

// Faults caught: a fast reader that runs past the end of the text, accepts a number or a string
// the text cuts short, or accepts the lenient parser's repair of a missing closing brace.
TEST(ModelReaders, AgreeOnTruncatedText) {
  const std::string whole = ModelText("0.75", "x\\ty", "1");
  ExpectReadersAgree({whole, Outcome::kLoads});
  ExpectReadersAgree({whole.substr(0, whole.size() - 1), Outcome::kLoadsWithDiagnostic});
  ExpectReadersAgree({whole.substr(0, whole.size() - 2), Outcome::kLoadFails});  // "1.200000"
  for (const std::string& cut : {std::string("{\n  \"_b"), std::string("{\n  \"_b\" : 0.75"),
                                 std::string("{\n  \"_b\" : 0.75e"),
                                 whole.substr(0, whole.find("x\\") + 2),  // after the backslash
                                 whole.substr(0, whole.find("x\\") + 1)}) {
    const ParserResult parsed = ReadWithParser(cut);
    EXPECT_NE(parsed.outcome, Outcome::kLoads) << cut;
    EXPECT_FALSE(PlainModelText(cut).read()) << cut;
  }
  const std::string unicode = ModelText("0.75", "\\u00e9", "1");
  const std::string in_escape = unicode.substr(0, unicode.find("\\u00") + 4);
  EXPECT_FALSE(PlainModelText(in_escape).read());
  EXPECT_NE(ReadWithParser(in_escape).outcome, Outcome::kLoads);
}

}  // namespace
