#include "main/ShellWords.h"

#include "basis/Exceptions.h"

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

}  // namespace

std::vector<std::string> splitShellWords(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;  // a word has started, even an empty quoted one
  size_t i = 0;
  const size_t n = line.size();
  while (i < n) {
    char c = line[i];
    if (isBlank(c)) {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
      ++i;
    } else if (c == '\\') {
      if (i + 1 >= n) throw IllegalArgumentException("Command line ends with a backslash: " + line);
      if (line[i + 1] != '\n') {
        word += line[i + 1];
        inWord = true;
      }
      i += 2;
    } else if (c == '\'') {
      size_t close = line.find('\'', i + 1);
      if (close == std::string::npos) throw IllegalArgumentException("Unterminated quote in command line: " + line);
      word.append(line, i + 1, close - i - 1);
      inWord = true;
      i = close + 1;
    } else if (c == '"') {
      inWord = true;
      for (++i;; ++i) {
        if (i >= n) throw IllegalArgumentException("Unterminated quote in command line: " + line);
        char d = line[i];
        if (d == '"') break;
        if (d == '\\' && i + 1 < n &&
            (line[i + 1] == '$' || line[i + 1] == '`' || line[i + 1] == '"' || line[i + 1] == '\\' ||
             line[i + 1] == '\n')) {
          if (line[i + 1] != '\n') word += line[i + 1];
          ++i;
        } else {
          word += d;
        }
      }
      ++i;
    } else {
      word += c;
      inWord = true;
      ++i;
    }
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}
