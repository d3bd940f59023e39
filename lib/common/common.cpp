// error(), the assertion handler, the bond types and the public error type.
#include "common/common.h"

#include <cstdio>
#include <cstdlib>

namespace sarvik {

namespace {

// Longest quote of input text in a message, in bytes.
constexpr std::size_t kLongestQuote = 200;

// The text the command line prints for a failure: the message, then the line
// naming the compound when there is one. The message is escaped again, since a
// byte it holds would otherwise end it there.
std::string error_text(const std::string& message, const CompoundPlace& place) {
  std::string text;
  for (std::size_t at = 0; at < message.size();) {
    const std::size_t nl = message.find('\n', at);
    const std::size_t end = nl == std::string::npos ? message.size() : nl;
    text += shown(std::string_view(message).substr(at, end - at), false);
    if (nl == std::string::npos) break;
    text += '\n';
    at = nl + 1;
  }
  if (!place.active) return text;
  text += "  in compound " + std::to_string(place.position) + " '" + shown(place.name) + "'";
  if (place.line > 0) text += " at line " + std::to_string(place.line);
  return text + (place.space ? " of the descriptor space '" : " of '") + shown(place.file, false) +
         "'\n";
}

}  // namespace

Error::Error(ErrorKind kind, const std::string& message, const CompoundPlace& place)
    : std::runtime_error(error_text(message, place)), kind_(kind), message_(message), place_(place) {}

std::string shown(std::string_view text, bool cut) {
  std::string out;
  std::size_t end = text.size();
  if (cut && end > kLongestQuote) {
    end = kLongestQuote;
    // Not inside a UTF-8 character.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  }
  for (std::size_t k = 0; k < end; ++k) {
    const unsigned char c = static_cast<unsigned char>(text[k]);
    if ((c < 0x20 && c != '\t') || c == 0x7F) {
      char code[8];
      std::snprintf(code, sizeof code, "\\x%02x", c);
      out += code;
    } else {
      out += static_cast<char>(c);
    }
  }
  if (end < text.size()) out += "...";
  return out;
}

void error(const std::string& str) { throw Error(ErrorKind::input, str); }

void error(ErrorKind kind, const std::string& str) { throw Error(kind, str); }

const BondType* bond_type_of_label(std::string_view label) {
  for (const BondType& t : kBondTypes)
    if (label == t.label) return &t;
  return nullptr;
}

void assert_fail(const char* expr, const char* module, int line) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s:%d: Assertion `%s' failed.\n", module, line, expr);
  std::abort();
}

const char* version() { return SARVIK_VERSION; }

Format format_of(std::string_view path, bool windows_separators) {
  const std::size_t sep = path.find_last_of(windows_separators ? "/\\" : "/");
  const std::string_view last = sep == std::string_view::npos ? path : path.substr(sep + 1);
  const std::size_t dot = last.rfind('.');
  if (dot == std::string_view::npos) return Format::sd;
  std::string ext(last.substr(dot + 1));
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext == "mol2" ? Format::mol2 : Format::sd;
}

}  // namespace sarvik
