// Writing a large result grid (100,000 rows x 9 columns, many multi-line cells) as HTML,
// XML and separated text; reports the document bytes written per second.
#include <benchmark/benchmark.h>

#include <string>

#include "export/ExportTargets.h"
#include "export/GridWriters.h"
#include "util/StringGrid.h"

namespace vestrel {
namespace {

constexpr int kRows = 100000;
constexpr int kCols = 9;

// Cells shaped like scan results: names, versions, and address lists of several lines,
// some with markup characters, quotes and non-ASCII letters.
const StringGrid& LargeGrid() {
  static const StringGrid grid = [] {
    StringGrid g(kCols, kRows + 1, 1, 1);
    for (int c = 1; c < kCols; ++c) g.SetCell(c, 0, "Column " + std::to_string(c));
    for (int r = 1; r <= kRows; ++r) {
      const std::string n = std::to_string(r);
      g.SetCell(0, r, n);
      g.SetCell(1, r, "SRV" + n + ".OU" + std::to_string(r % 97) + ".ORG");
      g.SetCell(2, r, "OU" + std::to_string(r % 97) + ".ORG");
      g.SetCell(3, r, "Novell NetWare 6.5[DS]");
      g.SetCell(4, r, std::to_string(10550 + r % 13));
      g.SetCell(5, r, "TCP 10.1." + std::to_string(r % 250) + ".5:524\r\nUDP 10.1." + std::to_string(r % 250) +
                          ".5:524\r\nIPX 0101A" + n);
      g.SetCell(6, r, "Master\r\nRead-Only\r\nSecondary\r\nmaster");
      g.SetCell(7, r, "Caf\xC3\xA9 & \"Bar\" <" + n + ">");
      g.SetCell(8, r, r % 3 ? "" : "2024-03-01 14:05:09\r\n2024-02-29 23:59:59\r\n");
    }
    return g;
  }();
  return grid;
}

template <typename Writer>
void RunWriter(benchmark::State& state, const StringGrid& grid, Writer writer) {
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::string document = writer(grid);
    bytes = document.size();
    benchmark::DoNotOptimize(document.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
  state.counters["document_MB"] = static_cast<double>(bytes) / 1e6;
}

void BM_GridToHtml(benchmark::State& state) {
  RunWriter(state, LargeGrid(), [](const StringGrid& g) { return GridToHtml(g); });
}
void BM_GridToXml(benchmark::State& state) {
  RunWriter(state, LargeGrid(), [](const StringGrid& g) { return GridToXml(g); });
}
void BM_GridToText(benchmark::State& state) {
  RunWriter(state, LargeGrid(), [](const StringGrid& g) { return GridToText(g, "\t", ""); });
}
// The text document as the file receives it (every line break CR LF).
void BM_GridToTextFileLines(benchmark::State& state) {
  RunWriter(state, LargeGrid(), [](const StringGrid& g) { return WithCrLfLines(GridToText(g, "\t", "")); });
}

// One cell of many lines: no writer may be quadratic in the size of a cell. The bytes of
// the three documents count together; they are not joined, which would measure the copy.
void BM_OneHugeCell(benchmark::State& state) {
  StringGrid grid(2, 2, 1, 1);
  std::string cell;
  for (int i = 0; i < state.range(0); ++i) cell += "line \"" + std::to_string(i * 7919 % 100003) + "\" & <x>\r\n";
  grid.SetCell(1, 1, cell);
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::string xml = GridToXml(grid);
    const std::string html = GridToHtml(grid);
    const std::string text = GridToText(grid, "\t", "");
    benchmark::DoNotOptimize(xml.data());
    benchmark::DoNotOptimize(html.data());
    benchmark::DoNotOptimize(text.data());
    bytes = xml.size() + html.size() + text.size();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
  state.counters["document_MB"] = static_cast<double>(bytes) / 1e6;
}

BENCHMARK(BM_OneHugeCell)->Arg(50000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GridToHtml)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GridToXml)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GridToText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GridToTextFileLines)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vestrel

BENCHMARK_MAIN();
