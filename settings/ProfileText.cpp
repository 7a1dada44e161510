#include "settings/ProfileText.h"

#include <cstddef>

#include "util/D_Util.h"

namespace vestrel {
namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

enum class LineKind { Blank, Comment, Section, Entry, Other };

struct ProfileLine {
  std::size_t begin = 0;       // first byte of the line
  std::size_t contentEnd = 0;  // first byte of the line end (or the text's end)
  std::size_t end = 0;         // first byte of the next line
  LineKind kind = LineKind::Other;
  std::string_view name;       // section name or key
  std::size_t valueBegin = 0;  // entries: first byte of the value after the blanks
  std::string_view rawValue;   // entries: the value with blanks removed

  bool HasLineEnd() const { return end > contentEnd; }
};

// Walks the lines of a text one by one; each call to Next costs the length of its line.
class LineScanner {
 public:
  explicit LineScanner(std::string_view text) : text_(text) {
    // A UTF-8 mark at the start belongs to no line's content.
    if (text_.substr(0, kUtf8Mark.size()) == kUtf8Mark) position_ = kUtf8Mark.size();
  }

  bool Next(ProfileLine& line) {
    if (position_ >= text_.size()) return false;
    line = ProfileLine{};
    line.begin = position_;
    const std::size_t lineEnd = text_.find_first_of("\r\n", position_);
    line.contentEnd = lineEnd == std::string_view::npos ? text_.size() : lineEnd;
    line.end = line.contentEnd;
    if (line.end < text_.size()) {
      const bool crlf = text_[line.end] == '\r' && line.end + 1 < text_.size() && text_[line.end + 1] == '\n';
      line.end += crlf ? 2 : 1;
    }
    position_ = line.end;
    Classify(line);
    return true;
  }

 private:
  void Classify(ProfileLine& line) const {
    const std::string_view content = text_.substr(line.begin, line.contentEnd - line.begin);
    const std::size_t first = content.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
      line.kind = LineKind::Blank;
      return;
    }
    const char lead = content[first];
    if (lead == ';' || lead == '#') {
      line.kind = LineKind::Comment;
      return;
    }
    if (lead == '[') {
      const std::size_t close = content.rfind(']');
      if (close != std::string_view::npos && close > first) {
        line.kind = LineKind::Section;
        line.name = Trimmed(content.substr(first + 1, close - first - 1));
      }
      return;
    }
    const std::size_t equals = content.find('=');
    if (equals == std::string_view::npos) return;
    line.kind = LineKind::Entry;
    line.name = Trimmed(content.substr(0, equals));
    const std::size_t valueStart = content.find_first_not_of(kBlanks, equals + 1);
    if (valueStart == std::string_view::npos) {
      line.valueBegin = line.contentEnd;
      return;
    }
    line.valueBegin = line.begin + valueStart;
    line.rawValue = Trimmed(content.substr(valueStart));
  }

  std::string_view text_;
  std::size_t position_ = 0;
};

// Calls onEntry(line) for every entry of the first section named section, in order, until
// it returns false. onHeader(line) is called for that section's header. Returns whether the
// section was found.
template <typename OnHeader, typename OnEntry>
bool VisitSection(std::string_view text, std::string_view section, OnHeader onHeader, OnEntry onEntry) {
  LineScanner scanner(text);
  ProfileLine line;
  bool inSection = false;
  while (scanner.Next(line)) {
    if (line.kind == LineKind::Section) {
      if (inSection) return true;  // the section ends at the next header
      if (EqualsNoCase(line.name, section)) {
        inSection = true;
        onHeader(line);
      }
    } else if (inSection && line.kind == LineKind::Entry) {
      if (!onEntry(line)) return true;
    }
  }
  return inSection;
}

std::string_view LineEndOf(std::string_view text) {
  const std::size_t lineEnd = text.find_first_of("\r\n");
  if (lineEnd != std::string_view::npos && text.substr(lineEnd, 2) == "\r\n") return "\r\n";
  return "\n";
}

bool EndsWithLineEnd(std::string_view text) {
  return !text.empty() && (text.back() == '\n' || text.back() == '\r');
}

bool EndsWithBlankLine(std::string_view text) {
  LineScanner scanner(text);
  ProfileLine line;
  bool lastBlank = false;
  while (scanner.Next(line)) lastBlank = line.kind == LineKind::Blank;
  return lastBlank;
}

std::string EntryLine(std::string_view key, std::string_view value, std::string_view lineEnd) {
  std::string entry;
  entry.reserve(key.size() + value.size() + 1 + lineEnd.size());
  entry.append(key).append("=").append(value).append(lineEnd);
  return entry;
}

}  // namespace

std::string UnquotedProfileValue(std::string_view rawValue) {
  std::string_view value = Trimmed(rawValue);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return std::string(value);
}

std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key) {
  std::optional<std::string> found;
  VisitSection(
      text, section, [](const ProfileLine&) {},
      [&](const ProfileLine& line) {
        if (!EqualsNoCase(line.name, key)) return true;
        found = UnquotedProfileValue(line.rawValue);
        return false;
      });
  return found;
}

std::vector<std::string> ProfileSectionEntries(std::string_view text, std::string_view section) {
  std::vector<std::string> entries;
  VisitSection(
      text, section, [](const ProfileLine&) {},
      [&](const ProfileLine& line) {
        entries.push_back(std::string(line.name) + "=" + UnquotedProfileValue(line.rawValue));
        return true;
      });
  return entries;
}

std::string WithProfileValue(std::string_view text, std::string_view section, std::string_view key,
                             std::string_view value) {
  const std::string_view lineEnd = LineEndOf(text);
  std::optional<ProfileLine> existing;
  ProfileLine lastLine;  // the header, then the section's last entry
  const bool sectionFound = VisitSection(
      text, section, [&](const ProfileLine& header) { lastLine = header; },
      [&](const ProfileLine& line) {
        if (EqualsNoCase(line.name, key)) {
          existing = line;
          return false;
        }
        lastLine = line;
        return true;
      });

  std::string result;
  result.reserve(text.size() + section.size() + key.size() + value.size() + 8);
  if (existing) {
    result.append(text.substr(0, existing->valueBegin)).append(value);
    result.append(text.substr(existing->contentEnd));
  } else if (sectionFound) {
    result.append(text.substr(0, lastLine.end));
    if (!lastLine.HasLineEnd()) result.append(lineEnd);
    result.append(EntryLine(key, value, lineEnd));
    result.append(text.substr(lastLine.end));
  } else {
    result.append(text);
    if (!text.empty() && !EndsWithLineEnd(text)) result.append(lineEnd);
    // A blank line sets the new section apart from what is above it.
    if (!text.empty() && !EndsWithBlankLine(text)) result.append(lineEnd);
    result.append("[").append(section).append("]").append(lineEnd);
    result.append(EntryLine(key, value, lineEnd));
  }
  return result;
}

}  // namespace vestrel
