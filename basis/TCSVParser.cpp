#include "basis/TCSVParser.h"

#include <cstddef>
#include <string>
#include <vector>

namespace {
const char* const VALUES_OF = "TCSVParser.valuesOf";
}  // namespace

TCSVParser::TCSVParser() : lines(std::make_unique<TStringCollection>()) {}

TCSVParser::TCSVParser(const TStringCollection& source) : lines(cloneOf(source)) {}

TCSVParser::~TCSVParser() = default;

bool TCSVParser::hasNext() const { return taken < lines->getStrings().size(); }

const TStringCollection& TCSVParser::getLines() const {
  dropTaken();
  return *lines;
}

void TCSVParser::dropTaken() const {
  std::vector<std::string>& all = lines->getStrings();
  all.erase(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(taken));
  taken = 0;
}

std::unique_ptr<TStringCollection> TCSVParser::nextValues() {
  if (!hasNext()) throw NoSuchElementException("TCSVParser.nextValues");
  std::unique_ptr<TStringCollection> values = valuesOf(lines->getStrings()[taken]);
  ++taken;
  // Dropped once half the lines are taken: a drop moves no more lines than it removes.
  if (2 * taken >= lines->getStrings().size()) dropTaken();
  return values;
}

std::unique_ptr<TStringCollection> TCSVParser::valuesOf(const std::string& line) const {
  auto values = std::make_unique<TStringCollection>();
  std::string value;
  bool inQuotes = false;
  // Set by the quote that ends a quoted piece, cleared by the next comma.
  bool closed = false;
  int32_t openedAt = 0;
  int32_t position = 0;
  for (char c : line) {
    ++position;
    if (c == '"') {
      if (closed) throw ParserException(VALUES_OF, "Unseperated values.", line, position);
      inQuotes = !inQuotes;
      if (inQuotes) {
        openedAt = position;
      } else {
        closed = true;
      }
    } else if (c == ',') {
      if (inQuotes) throw ParserException(VALUES_OF, "Unterminated value.", line, position);
      values->add(value);
      value.clear();
      closed = false;
    } else if (inQuotes) {
      value.push_back(c);
    }
  }
  if (inQuotes) throw ParserException(VALUES_OF, "Unterminated value.", line, openedAt);
  // A quoted piece after the last comma is the line's last value.
  if (closed) values->add(value);
  return values;
}
