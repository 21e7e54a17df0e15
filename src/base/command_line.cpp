#include "base/command_line.h"

namespace muvra {

namespace {

bool needsQuotes(const std::u16string& argument) {
  return argument.empty() || argument.find_first_of(u" \t\n\v\"") != std::u16string::npos;
}

// Backslashes are literal unless a quote follows them: then each stands for half as many, and an
// odd one out escapes the quote.
void appendQuoted(std::u16string& line, const std::u16string& argument) {
  line += u'"';
  std::size_t backslashes = 0;
  for (const char16_t unit : argument) {
    if (unit == u'\\') {
      ++backslashes;
      continue;
    }
    if (unit == u'"') {
      line.append(backslashes * 2 + 1, u'\\');
    } else {
      line.append(backslashes, u'\\');
    }
    backslashes = 0;
    line += unit;
  }
  line.append(backslashes * 2, u'\\');  // before the closing quote
  line += u'"';
}

}  // namespace

std::u16string windowsCommandLine(const std::u16string& program,
                                  const std::vector<std::u16string>& arguments) {
  std::u16string line = u"\"" + program + u"\"";
  for (const std::u16string& argument : arguments) {
    line += u' ';
    if (needsQuotes(argument)) {
      appendQuoted(line, argument);
    } else {
      line += argument;
    }
  }
  return line;
}

}  // namespace muvra
