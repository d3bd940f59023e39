// error(), the assertion handler, the bond types and the public error type.
#include "common/common.h"

#include <cstdio>
#include <cstdlib>

namespace sarvik {

namespace {

// The text the command line prints for a failure: the message, then the line
// naming the compound when there is one.
std::string error_text(const std::string& message, const CompoundPlace& place) {
  if (!place.active) return message;
  std::string text = message + "  in compound " + std::to_string(place.position) + " '" +
                     place.name + "'";
  if (place.line > 0) text += " at line " + std::to_string(place.line);
  return text + " of '" + place.file + "'\n";
}

}  // namespace

Error::Error(ErrorKind kind, const std::string& message, const CompoundPlace& place)
    : std::runtime_error(error_text(message, place)), kind_(kind), message_(message), place_(place) {}

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
