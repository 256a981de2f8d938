#include "signing/identity_json.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace srb {
namespace {

// The secret text, or "error: " and the whole detail.
std::string read(std::string_view text) {
  const Result<SecretString> secret = parse_identity_json(text);
  if (!secret) return "error: " + std::get<IdentityInvalid>(secret.error()).detail;
  return std::string(secret->begin(), secret->end());
}

struct Case {
  std::string text;
  std::string expected;
};

void run_cases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(read(c.text), c.expected);
  }
}

TEST(IdentityJsonTest, AcceptedForms) {
  run_cases({
      {R"({"secret_key_hex":"ab"})", "ab"},
      {" \t\r\n{ \"secret_key_hex\" :\n\t\"AB\" \r\n} \n", "AB"},
      {R"({"secret_key_hex":""})", ""},
      {R"(["ab"])", "ab"},
      {"\xEF\xBB\xBF{\"secret_key_hex\":\"ab\"}", "ab"},
      // Other members are skipped whatever they hold, nested secret_key_hex keys included.
      {R"({"note":"x","secret_key_hex":"ab","n":[1,{"secret_key_hex":2}],"o":{"a":null}})", "ab"},
      {R"({"meta":{"secret_key_hex":"zz","secret_key_hex":[]},"secret_key_hex":"ab"})", "ab"},
      // Escapes are decoded before the hex digits are read.
      {R"({"secret_key_hex":"\u0061b"})", "ab"},
      // A skipped value may even hold lone surrogates, which no string may decode to.
      {R"({"a":"\ud800","secret_key_hex":"ab"})", "ab"},
      {R"({"secret_key_hex":"ab","n":["x\udc00",{"k":"\ud800\ud800\udc00"}]})", "ab"},
      {R"({"a":"\\ud800\ud83d\ude00","secret_key_hex":"\\ud800"})", "\\ud800"},
  });
}

TEST(IdentityJsonTest, RecordErrorsNameTheirPosition) {
  run_cases({
      {R"({"secret_key_hex": 5})",
       "error: invalid type: integer `5`, expected a string at line 1 column 20"},
      {R"({"secret_key_hex":-12 })",
       "error: invalid type: integer `-12`, expected a string at line 1 column 21"},
      {R"({"secret_key_hex":18446744073709551615})",
       "error: invalid type: integer `18446744073709551615`, expected a string at line 1 column "
       "38"},
      {R"({"secret_key_hex":1.50})",
       "error: invalid type: floating point `1.5`, expected a string at line 1 column 22"},
      {R"({"secret_key_hex":-2.5E+300})",
       "error: invalid type: floating point `-2.5e+300`, expected a string at line 1 column 27"},
      // The number ends before the character that stopped it, even when that is a digit.
      {R"({"secret_key_hex":01})",
       "error: invalid type: integer `0`, expected a string at line 1 column 19"},
      {R"({"secret_key_hex":0.1.2})",
       "error: invalid type: floating point `0.1`, expected a string at line 1 column 21"},
      {R"({"secret_key_hex":true})",
       "error: invalid type: boolean `true`, expected a string at line 1 column 22"},
      {R"({"secret_key_hex":false})",
       "error: invalid type: boolean `false`, expected a string at line 1 column 23"},
      {R"({"secret_key_hex":null})",
       "error: invalid type: null, expected a string at line 1 column 22"},
      {R"({"secret_key_hex":{"a":1}})",
       "error: invalid type: map, expected a string at line 1 column 19"},
      {R"({"secret_key_hex":["ab"]})",
       "error: invalid type: sequence, expected a string at line 1 column 19"},
      {"{\n  \"secret_key_hex\": 5\n}",
       "error: invalid type: integer `5`, expected a string at line 2 column 21"},
      {"{}", "error: missing field `secret_key_hex` at line 1 column 2"},
      {R"({"secret":"ab","x":{"secret_key_hex":"ab"}})",
       "error: missing field `secret_key_hex` at line 1 column 43"},
      {R"({"secret_key_hex":"ab","secret_key_hex":"ab"})",
       "error: duplicate field `secret_key_hex` at line 1 column 39"},
      {"5", "error: invalid type: integer `5`, expected struct File at line 1 column 1"},
      {"1e3",
       "error: invalid type: floating point `1000.0`, expected struct File at line 1 column 3"},
      {"null", "error: invalid type: null, expected struct File at line 1 column 4"},
      // A string's content is not repeated: it may be the secret itself.
      {R"("0123456789abcdef")",
       "error: invalid type: string, expected struct File at line 1 column 18"},
      {"[]", "error: invalid length 0, expected struct File with 1 element at line 1 column 2"},
      {R"(["ab","cd",[1]])",
       "error: invalid length 3, expected struct File with 1 element at line 1 column 15"},
      {"[5]", "error: invalid type: integer `5`, expected a string at line 1 column 2"},
      {R"([{"secret_key_hex":"ab"}])",
       "error: invalid type: map, expected a string at line 1 column 2"},
  });
}

TEST(IdentityJsonTest, SyntaxErrorsNameTheirPosition) {
  run_cases({
      {"", "error: EOF while parsing a value at line 1 column 0"},
      {" \n ", "error: EOF while parsing a value at line 2 column 1"},
      {"{", "error: EOF while parsing an object at line 1 column 1"},
      {"{\n", "error: EOF while parsing an object at line 2 column 0"},
      {R"({"secret_key_hex")", "error: EOF while parsing an object at line 1 column 17"},
      {R"({"secret_key_hex":)", "error: EOF while parsing a value at line 1 column 18"},
      {R"({"secret_key_hex":"ab)", "error: EOF while parsing a string at line 1 column 21"},
      {R"({"secret_key_hex":"ab")", "error: EOF while parsing an object at line 1 column 22"},
      {R"(["ab")", "error: EOF while parsing a list at line 1 column 5"},
      {R"({"secret_key_hex":tru)", "error: EOF while parsing a value at line 1 column 21"},
      {R"({"secret_key_hex":"ab"} x)", "error: trailing characters at line 1 column 25"},
      {R"({"secret_key_hex":"ab"}})", "error: trailing characters at line 1 column 24"},
      {R"({"secret_key_hex":"ab"}{})", "error: trailing characters at line 1 column 24"},
      {R"({"secret_key_hex" "ab"})", "error: expected `:` at line 1 column 22"},
      {R"({"secret_key_hex":"ab" "x":1})", "error: expected `,` or `}` at line 1 column 26"},
      {R"({"secret_key_hex":"ab",})", "error: key must be a string at line 1 column 24"},
      {R"({secret_key_hex:"ab"})", "error: key must be a string at line 1 column 2"},
      {R"(["ab" 1])", "error: expected `,` or `]` at line 1 column 7"},
      {R"(["ab",])", "error: expected value at line 1 column 7"},
      {R"({"secret_key_hex":abc})", "error: expected value at line 1 column 19"},
      {R"({"secret_key_hex":'ab'})", "error: expected value at line 1 column 19"},
      {R"({"secret_key_hex":-})", "error: invalid number at line 1 column 20"},
      {R"({"secret_key_hex":"a\qb"})", "error: invalid escape at line 1 column 22"},
      {"{\"secret_key_hex\":\"a\tb\"}",
       "error: control character (\\u0000-\\u001F) found while parsing a string at line 1 column "
       "21"},
      {R"({"secret_key_hex":"\ud800"})", "error: lone surrogate in hex escape at line 1 column 26"},
      // Only the secret's own string and member names must decode; the skipped value before
      // does not change where the error is found.
      {R"({"a":"\udc00","secret_key_hex":"\udc00"})",
       "error: lone surrogate in hex escape at line 1 column 38"},
      {R"({"\ud800":1,"secret_key_hex":"ab"})",
       "error: lone surrogate in hex escape at line 1 column 9"},
      {R"(["\ud800"])", "error: lone surrogate in hex escape at line 1 column 9"},
  });
}

// JSONTestSuite: text every JSON reader must accept (y_) may fail here only for its record shape,
// text it must reject (n_) always fails, and the undecided cases (i_) must not crash or hang.
TEST(IdentityJsonTest, JsonTestSuite) {
  const std::string record_errors[] = {"invalid type: ", "missing field ", "invalid length ",
                                       "duplicate field "};
  std::size_t files = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(SRB_VECTORS_DIR "/JSONTestSuite/test_parsing")) {
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    const Result<SecretString> secret = parse_identity_json(content.str());
    ++files;
    if (name.starts_with("n_")) {
      EXPECT_FALSE(secret);
    } else if (name.starts_with("y_") && !secret) {
      const std::string& detail = std::get<IdentityInvalid>(secret.error()).detail;
      EXPECT_TRUE(std::any_of(std::begin(record_errors), std::end(record_errors),
                              [&](const std::string& kind) { return detail.starts_with(kind); }))
          << detail;
    }
  }
  EXPECT_EQ(files, 318u);
}

}  // namespace
}  // namespace srb
