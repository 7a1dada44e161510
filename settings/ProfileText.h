// ProfileText: reading and editing the text of a profile (INI) file without I/O.
//
// The text is taken as untrusted bytes: any content, NUL bytes, lines of any length,
// CR LF, lone LF or lone CR line ends. Every routine makes one pass over the text.
//
// A line is, after leading blanks (space, tab):
//   - blank: nothing else;
//   - a comment: starts with ";" or "#";
//   - a section header: starts with "[" and holds a "]"; the name is what lies between the
//     "[" and the last "]", trimmed;
//   - an entry: holds "="; the key is what lies before the first "=", trimmed, the value
//     what follows it;
//   - anything else is kept but never read.
// Section and key names match without regard to case (ASCII). A section is its first
// header of that name; later headers of the same name and their lines are kept but not
// read. The first entry of a key in the section wins.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vestrel {

// The value as the reader returns it: blanks around it removed, then one pair of
// enclosing quotes (both double or both single) removed.
std::string UnquotedProfileValue(std::string_view rawValue);

// The value of key in section, or nothing when the section or the key is absent.
std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key);

// Every entry of the section as "key=value" (key trimmed, value as the reader returns it),
// in file order; empty when the section is absent.
std::vector<std::string> ProfileSectionEntries(std::string_view text, std::string_view section);

// The text with key set to value in section. An existing entry keeps everything up to
// the start of its value (indentation, key spelling, spacing around "=") and its line
// end; a new key goes right after the last entry of its section (before trailing blank
// lines and comments); a new section goes at the end of the text. All other bytes are
// kept. New lines end the way the text's first line ends (LF in an empty text).
// The caller makes sure that key, section and value hold no line break.
std::string WithProfileValue(std::string_view text, std::string_view section, std::string_view key,
                             std::string_view value);

}  // namespace vestrel
