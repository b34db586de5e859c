#pragma once
// Reads lines of comma-separated values. Only text inside double quotes is
// taken: each comma ends a value, an unquoted field gives the empty value,
// and the quoted value after the last comma of a line is its last value.
// Quoted values cannot hold commas or quotes.

#include <memory>

#include "basis/TStringCollection.h"

class TCSVParser {
 public:
  // No lines.
  TCSVParser();
  // Parses a copy of `lines`; the caller keeps its collection.
  explicit TCSVParser(const TStringCollection& lines);
  virtual ~TCSVParser();
  TCSVParser(const TCSVParser&) = delete;
  TCSVParser& operator=(const TCSVParser&) = delete;

  // True while lines are left.
  virtual bool hasNext() const;
  // The values of the first line, which is then removed. No line left raises
  // NoSuchElementException "TCSVParser.nextValues"; a line that does not
  // parse raises the ParserException of valuesOf and stays first.
  virtual std::unique_ptr<TStringCollection> nextValues();
  // The values of one line, for the caller. Raises ParserException (method
  // "TCSVParser.valuesOf") with "Unseperated values." at a quote right after
  // a closed quoted piece, and with "Unterminated value." at a comma inside
  // quotes or, for a quote left open at the end, at that opening quote.
  virtual std::unique_ptr<TStringCollection> valuesOf(const std::string& line) const;

  // The lines not taken yet.
  const TStringCollection& getLines() const;

 protected:
  // Lines before `taken` were parsed already; they leave in batches, so that
  // walking n lines costs O(n) rather than a shift of the rest per line.
  mutable std::unique_ptr<TStringCollection> lines;
  mutable size_t taken = 0;

 private:
  void dropTaken() const;
};
