#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "ExportTestSupport.h"
#include "export/D_XML.h"
#include "export/GridWriters.h"
#include "util/D_Util.h"
#include "util/TextList.h"

namespace vestrel {
namespace {

using testing::FixedWriterClock;
using testing::SampleServerGrid;

std::string Lines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

// ---- The sample server grid in the three formats ----

TEST(GridWriters, SampleGridAsXml) {
  FixedWriterClock clock;
  EXPECT_EQ(GridToXml(SampleServerGrid()),
            Lines({"<?xml version=\"1.0\" encoding=\"windows-1252\" standalone=\"yes\"?>",
                   "<document>",
                   "<table rowCount=\"3\" colCount=\"3\" fixedRows=\"1\" fixedCols=\"1\" date=\"2024-03-01\" time=\"14:05:09\"/>",
                   "<row value=\"0\">",
                   "<row/>",
                   "<cell><col/></cell>",
                   "<cell><col>Server</col><value index=\"0\">Server</value></cell>",
                   "<cell><col>Network Address</col><value index=\"0\">Network Address</value></cell>",
                   "</row>",
                   "<row value=\"1\">",
                   "<row>1</row>",
                   "<cell><col/><value index=\"0\">1</value></cell>",
                   "<cell><col>Server</col><value index=\"0\">FS1</value></cell>",
                   "<cell><col>Network Address</col><value index=\"0\">10.1.1.5</value><value index=\"1\">10.1.1.9</value></cell>",
                   "</row>",
                   "<row value=\"2\">",
                   "<row>2</row>",
                   "<cell><col/><value index=\"0\">2</value></cell>",
                   "<cell><col>Server</col><value index=\"0\">A&amp;B</value></cell>",
                   "<cell><col>Network Address</col></cell>",
                   "</row>",
                   "</document>"}));
}

TEST(GridWriters, SampleGridAsHtml) {
  EXPECT_EQ(GridToHtml(SampleServerGrid()),
            Lines({"<html><body>", "<table border=1>", "<tr>", "<td><br></td>", "<td><b>Server</b></td>",
                   "<td><b>Network Address</b></td>", "</tr>", "<tr>", "<td><b>1</b></td>", "<td>FS1</td>",
                   "<td>10.1.1.9<br>10.1.1.5</td>", "</tr>", "<tr>", "<td><b>2</b></td>", "<td>A&amp;B</td>",
                   "<td><br></td>", "</tr>", "</table>", "</body></html>"}));
}

TEST(GridWriters, SampleGridAsSeparatedText) {
  EXPECT_EQ(GridToText(SampleServerGrid(), "\t", ""),
            Lines({"\tServer\tNetwork Address", "1\tFS1\t\"10.1.1.9\n10.1.1.5\"", "2\tA&B\t"}));
  EXPECT_EQ(GridToText(SampleServerGrid(), ",", "--"),
            Lines({",Server,Network Address", "--", "1,FS1,\"10.1.1.9\n10.1.1.5\"", "--", "2,A&B,", "--"}));
  EXPECT_EQ(GridRowToText(SampleServerGrid(), 2, ";"), "2;A&B;");
}

// ---- XML ----

TEST(GridWritersXml, SingleColumnRowsHoldNoCellElements) {
  FixedWriterClock clock;
  StringGrid grid(1, 2, 0, 1);
  grid.SetCell(0, 1, "only");
  const std::string xml = GridToXml(grid);
  EXPECT_NE(xml.find("<row value=\"1\">\r\n<row>only</row>\r\n</row>\r\n"), std::string::npos) << xml;
  EXPECT_EQ(xml.find("<cell>"), std::string::npos);
}

TEST(GridWritersXml, CellLinesAreSortedWithoutCaseDuplicates) {
  FixedWriterClock clock;
  StringGrid grid(2, 2, 1, 1);
  grid.SetCell(1, 1, "b\r\na\r\nb\r\nA");
  grid.SetCell(0, 1, "x\r\n\r\ny");  // an empty line between two lines is a value too
  const std::string xml = GridToXml(grid);
  EXPECT_NE(xml.find("<cell><col/><value index=\"0\">a</value><value index=\"1\">b</value></cell>"), std::string::npos)
      << xml;
  EXPECT_NE(xml.find("<cell><col/><value index=\"0\"></value><value index=\"1\">x</value><value index=\"2\">y</value></cell>"),
            std::string::npos)
      << xml;
}

TEST(GridWritersXml, LinesThatDifferInMoreThanCaseAreAllWritten) {
  FixedWriterClock clock;
  StringGrid grid(2, 2, 1, 1);
  // x2 and x with a superscript two, AB and full-width AB, id and id with a control character.
  grid.SetCell(1, 1, "x2\r\nx\xC2\xB2\r\nAB\r\n\xEF\xBC\xA1\xEF\xBC\xA2\r\nid\r\nid\x01\r\nab");
  EXPECT_NE(GridToXml(grid).find("<cell><col/><value index=\"0\">AB</value><value index=\"1\">&#65313;&#65314;</value>"
                                 "<value index=\"2\">id</value><value index=\"3\">id&#65533;</value>"
                                 "<value index=\"4\">x2</value><value index=\"5\">x&#178;</value></cell>"),
            std::string::npos)
      << GridToXml(grid);
}

TEST(GridWritersXml, MarkupAndNonAsciiAreEscapedInTitlesAndValues) {
  FixedWriterClock clock;
  StringGrid grid(2, 2, 1, 1);
  grid.SetCell(1, 0, "<T&itle>");
  grid.SetCell(0, 1, "Gr\xC3\xBC\xC3\x9F");          // "Grüß"
  grid.SetCell(1, 1, "a<b>&c\r\n\xE2\x82\xAC 5");  // "€ 5"
  const std::string xml = GridToXml(grid);
  EXPECT_NE(xml.find("<row>Gr&#252;&#223;</row>"), std::string::npos) << xml;
  // Symbols sort before letters.
  EXPECT_NE(xml.find("<cell><col>&lt;T&amp;itle&gt;</col><value index=\"0\">&#8364; 5</value>"
                     "<value index=\"1\">a&lt;b&gt;&amp;c</value></cell>"),
            std::string::npos)
      << xml;
}

TEST(GridWritersXml, DateAndTimeComeFromTheClock) {
  FixedWriterClock clock({987, 12, 31, 0, 0, 7});
  EXPECT_NE(GridToXml(StringGrid(1, 1, 0, 0)).find("date=\"0987-12-31\" time=\"00:00:07\""), std::string::npos);
}

// ---- Escaping and decoding ----

TEST(XmlText, MarkupAndEveryNonAsciiCharacterBecomeReferences) {
  EXPECT_EQ(XmlText("A&B <x> 'q' \"d\""), "A&amp;B &lt;x&gt; 'q' \"d\"");
  EXPECT_EQ(XmlText("\xC3\xA9\xF0\x9F\x98\x80"), "&#233;&#128512;");  // é and an emoji
  EXPECT_EQ(XmlText("tab\tcr\rlf\n"), "tab\tcr\rlf\n");
}

TEST(XmlText, BytesThatAreNotUtf8BecomeReplacementCharacters) {
  EXPECT_EQ(XmlText("\xFC"), "&#65533;");                    // a windows-1252 u-umlaut
  EXPECT_EQ(XmlText("a\xC3"), "a&#65533;");                  // cut short at the end
  EXPECT_EQ(XmlText("\xC0\xAF"), "&#65533;&#65533;");        // overlong "/"
  EXPECT_EQ(XmlText("\xED\xA0\x80"), "&#65533;&#65533;&#65533;");  // a surrogate
  EXPECT_EQ(XmlText("\xF4\x90\x80\x80"), "&#65533;&#65533;&#65533;&#65533;");  // above U+10FFFF
  EXPECT_EQ(XmlText("\xE2\x82x"), "&#65533;&#65533;x");       // continuation missing
}

TEST(XmlText, ControlCharactersXmlForbidsBecomeReplacementCharacters) {
  EXPECT_EQ(XmlText(std::string("a\0b\x01\x1F", 5)), "a&#65533;b&#65533;&#65533;");
  EXPECT_EQ(XmlText("\xEF\xBF\xBE"), "&#65533;");  // U+FFFE
}

TEST(XmlElementHelpers, EmptyContentGivesAnEmptyElement) {
  EXPECT_EQ(XmlElement("col", ""), "<col/>");
  EXPECT_EQ(XmlElement("col", "a&b"), "<col>a&b</col>");  // the caller escapes
  EXPECT_EQ(XmlEmptyElement("row"), "<row/>");
}

// Every XML document, whatever the cells hold, is well-formed ASCII.
TEST(GridWritersXml, DocumentsWithHostileCellsAreWellFormed) {
  FixedWriterClock clock;
  StringGrid grid(3, 3, 1, 1);
  grid.SetCell(1, 0, "</col><x a='1'>");
  grid.SetCell(2, 0, "]]> &#; &amp;");
  grid.SetCell(0, 1, "\xFF\xFE\x80");
  grid.SetCell(1, 1, std::string("nul\0bell\a", 9));
  grid.SetCell(2, 2, "line\r\n<!-- c -->\r\n\xC3\xA4");
  const std::string xml = GridToXml(grid);
  for (unsigned char c : xml) ASSERT_LT(c, 0x80u);

  if (std::system("command -v xmllint >/dev/null 2>&1") != 0) GTEST_SKIP() << "xmllint is not installed";
  testing::ScratchFolder folder;
  testing::WriteFile("doc.xml", xml);
  EXPECT_EQ(std::system("xmllint --noout doc.xml"), 0) << xml;
}

// ---- HTML ----

TEST(GridWritersHtml, EntitiesInCellsAreShownLiterally) {
  StringGrid grid(1, 1, 0, 0);
  grid.SetCell(0, 0, "&amp; 'x' \"y\" <z>");
  EXPECT_NE(GridToHtml(grid).find("<td>&amp;amp; &apos;x&apos; &quot;y&quot; &lt;z&gt;</td>"), std::string::npos);
}

TEST(GridWritersHtml, FixedCellsAreBoldButEmptyOnesAreABreakOnly) {
  StringGrid grid(2, 2, 1, 1);
  grid.SetCell(0, 1, "fixed col");
  grid.SetCell(1, 1, "plain");
  const std::string html = GridToHtml(grid);
  EXPECT_NE(html.find("<tr>\r\n<td><br></td>\r\n<td><br></td>\r\n</tr>"), std::string::npos) << html;
  EXPECT_NE(html.find("<td><b>fixed col</b></td>\r\n<td>plain</td>"), std::string::npos) << html;
}

TEST(GridWritersHtml, OnlyCrLfBecomesABreakAndNonAsciiBecomesReferences) {
  StringGrid grid(1, 1, 0, 0);
  grid.SetCell(0, 0, "a\rb\nc\r\nd \xC3\xB6\xFF");
  EXPECT_NE(GridToHtml(grid).find("<td>a\rb\nc<br>d &#246;&#65533;</td>"), std::string::npos);
}

TEST(GridWritersHtml, C1ControlCharactersBecomeReplacementCharacters) {
  // Browsers would show &#128;..&#159; as windows-1252's euro sign, dashes and quotes.
  StringGrid grid(1, 1, 0, 0);
  grid.SetCell(0, 0, "\x7F\xC2\x80|\xC2\x96|\xC2\x9F|\xC2\xA0");  // U+007F, U+0080, U+0096, U+009F, U+00A0
  EXPECT_NE(GridToHtml(grid).find("<td>\x7F&#65533;|&#65533;|&#65533;|&#160;</td>"), std::string::npos)
      << GridToHtml(grid);
}

// ---- The writers against plain versions of themselves ----

// The HTML cell text character by character, as the writer did before it copied runs.
std::string PlainHtmlCellText(const std::string& text) {
  std::string out;
  for (std::size_t pos = 0; pos < text.size();) {
    const char c = text[pos];
    if (c == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') {
      out += "<br>";
      pos += 2;
      continue;
    }
    if (static_cast<unsigned char>(c) >= 0x80) {
      const char32_t code = NextCodePoint(text, pos);
      AppendCharRef(out, code >= 0x80 && code <= 0x9F ? kReplacementChar : code);
      continue;
    }
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\'': out += "&apos;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
    ++pos;
  }
  return out;
}

std::string PlainHtml(const StringGrid& grid) {
  std::string html = "<html><body>\r\n<table border=1>\r\n";
  for (int r = 0; r < grid.RowCount(); ++r) {
    html += "<tr>\r\n";
    for (int c = 0; c < grid.ColCount(); ++c) {
      const std::string& text = grid.Cell(c, r);
      const bool bold = c < grid.FixedCols() || r < grid.FixedRows();
      const std::string content = PlainHtmlCellText(text);
      html += text.empty() ? "<td><br></td>" : "<td>" + (bold ? "<b>" + content + "</b>" : content) + "</td>";
      html += "\r\n";
    }
    html += "</tr>\r\n";
  }
  return html + "</table>\r\n</body></html>\r\n";
}

// The XML cells through the work list, one cell at a time, as the writer did before.
std::string PlainXml(const StringGrid& grid) {
  TextList workList;
  workList.SetSorted(true);
  workList.SetDuplicates(TextList::Duplicates::Ignore);
  std::string xml = Lines({"<?xml version=\"1.0\" encoding=\"windows-1252\" standalone=\"yes\"?>", "<document>"});
  xml += Format("<table rowCount=\"%d\" colCount=\"%d\" fixedRows=\"%d\" fixedCols=\"%d\" date=\"2024-03-01\" time=\"14:05:09\"/>\r\n",
                grid.RowCount(), grid.ColCount(), grid.FixedRows(), grid.FixedCols());
  for (int r = 0; r < grid.RowCount(); ++r) {
    xml += Lines({"<row value=\"" + std::to_string(r) + "\">", XmlElement("row", XmlText(grid.Cell(0, r)))});
    for (int c = 0; c < grid.ColCount() && grid.ColCount() > 1; ++c) {
      std::string content = XmlElement("col", XmlText(grid.Cell(c, 0)));
      workList.SetText(grid.Cell(c, r));
      for (int i = 0; i < workList.Count(); ++i)
        content += "<value index=\"" + std::to_string(i) + "\">" + XmlText(workList[i]) + "</value>";
      xml += XmlElement("cell", content) + "\r\n";
    }
    xml += "</row>\r\n";
  }
  return xml + "</document>\r\n";
}

// Cells of pieces that every escape, line rule and sorting rule meets.
StringGrid TrickyGrid(unsigned seed) {
  static const std::vector<std::string> pieces = {
      "a", "B", "b", "A", "x2", "x\xC2\xB2", "\xEF\xBC\xA1", "&", "<", ">", "'", "\"", "\r\n", "\r\n", "\r", "\n",
      "\xC3\xA9", "\xC3\x89", "\xC2\x85", "\xFF", "\xE2\x82", std::string(1, '\0'), "\x01", " ", "\t", "&amp;"};
  std::mt19937 random(seed);
  auto below = [&random](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
  StringGrid grid(1 + below(5), 1 + below(6), below(2), below(2));
  for (int r = 0; r < grid.RowCount(); ++r) {
    for (int c = 0; c < grid.ColCount(); ++c) {
      std::string text;
      for (int n = below(12); n > 0; --n) text += pieces[below(static_cast<int>(pieces.size()))];
      grid.SetCell(c, r, text);
    }
  }
  return grid;
}

TEST(GridWriters, DocumentsAreTheBytesThePlainWritersGive) {
  FixedWriterClock clock;
  for (unsigned seed = 0; seed < 300; ++seed) {
    const StringGrid grid = TrickyGrid(seed);
    ASSERT_EQ(GridToHtml(grid), PlainHtml(grid)) << "seed " << seed;
    ASSERT_EQ(GridToXml(grid), PlainXml(grid)) << "seed " << seed;
  }
}

// ---- Separated text cells ----

TEST(TextCells, SingleLinesStayUnquoted) {
  EXPECT_EQ(TextCell("one line\r\n"), "one line");
  EXPECT_EQ(TextCell("say \"hi\"\r\n\r\n"), "say \"hi\"");
  EXPECT_EQ(TextCell("a\tb,c"), "a\tb,c");  // the separator does not cause quoting
  EXPECT_EQ(TextCell("lone\rcr"), "lone\rcr");
  EXPECT_EQ(TextCell(""), "");
}

TEST(TextCells, MultiLineValuesAreQuotedWithTheirQuotesTurnedToApostrophes) {
  EXPECT_EQ(TextCell("say \"hi\"\r\nbye\r\n"), "\"say 'hi'\nbye\"");
  EXPECT_EQ(TextCell("a\nb"), "\"a\nb\"");
  EXPECT_EQ(QuoteMultiLine("x|y", "|", "/", "_", "*"), "*x/y*");
  EXPECT_EQ(QuoteMultiLine("x*y", "|", "/", "_", "*"), "x*y");
}

}  // namespace
}  // namespace vestrel
