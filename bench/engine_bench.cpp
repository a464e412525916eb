// Engine-only benchmark: the reader, the writer and each converter on one
// notebook text, without Python. Prints the median time of each stage and
// its throughput in MB/s of input bytes (1 MB = 10^6 bytes).
//
// usage: engine_bench NOTEBOOK [RUNS [STAGE]]  (STAGE: run that stage only)
//
// Each stage runs RUNS times (default 31, at least 3) after one warm-up run;
// every run is timed alone and the median is reported. "parse" reads into an
// arena, as the module does, and frees the document inside the clock; the
// stripped document is freed after the clock stops; a text result is freed
// inside it (one buffer). The "call" stages do everything one module call
// does with the text, with the same read options, freeing included.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "convert_engine/converters/html_fragments.hpp"
#include "convert_engine/converters/text_conversions.hpp"
#include "convert_engine/notebook/json_writer.hpp"
#include "convert_engine/notebook/parse.hpp"

namespace {

namespace ce = convert_engine;
using Clock = std::chrono::steady_clock;
using ce::notebook::Notebook;

// Keeps the optimiser from dropping work whose result is otherwise unused.
volatile std::size_t sink = 0;

struct Stage {
    const char* name;
    // Prepares one run (untimed) and returns the timed work; whatever the
    // work leaves in its captures is freed after the clock stops.
    std::function<std::function<void()>()> prepare;
};

double median_seconds(const Stage& stage, int runs) {
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(runs));
    for (int i = 0; i <= runs; ++i) {
        auto work = stage.prepare();
        const auto start = Clock::now();
        work();
        const auto stop = Clock::now();
        if (i > 0) samples.push_back(std::chrono::duration<double>(stop - start).count());  // run 0 warms up
    }
    std::sort(samples.begin(), samples.end());
    const std::size_t mid = samples.size() / 2;
    return samples.size() % 2 ? samples[mid] : (samples[mid - 1] + samples[mid]) / 2;
}

std::string read_file(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "engine_bench: cannot read %s\n", path);
        std::exit(2);
    }
    std::ostringstream text;
    text << in.rdbuf();
    return std::move(text).str();
}

Notebook parse_or_exit(const std::string& text) {
    auto parsed = ce::notebook::parse_notebook(text);
    if (!parsed) {
        std::fprintf(stderr, "engine_bench: the notebook does not parse: %s\n", parsed.error().display().c_str());
        std::exit(2);
    }
    return std::move(parsed).value();
}

std::size_t text_size(const ce::converters::TextResult& result) {
    return result ? result.value().size() : 0;
}

// The HTML the page gets from the engine: each cell's escaped source and
// each output's fragment, one output at a time.
std::size_t html_fragments(const Notebook& notebook) {
    std::size_t bytes = 0;
    for (const auto& cell : notebook.cells) {
        bytes += ce::converters::html_escape(cell.source.text).size();
        for (const auto& output : cell.outputs) bytes += ce::converters::OutputRenderData::from_output(output).html.size();
    }
    return bytes;
}

std::vector<Stage> stages(const std::string& text, const Notebook& document) {
    // A stage whose work reads the parsed document and allocates its result.
    auto over_document = [&document](const char* name, std::size_t (*work)(const Notebook&)) {
        return Stage{name, [&document, work] { return std::function<void()>([&document, work] { sink = work(document); }); }};
    };
    // Reads as the module does for `format`: into a per-call arena, maps
    // that the format never shows left unbuilt.
    auto call = [&text](const char* name, bool strip, std::size_t (*work)(Notebook&&)) {
        return Stage{name, [&text, strip, work] {
                         return std::function<void()>([&text, strip, work] {
                             ce::json::Arena arena;
                             ce::notebook::ReadOptions options;
                             options.drop_code_outputs = true;
                             options.empty_metadata = !strip;
                             options.arena = &arena;
                             sink = work(ce::notebook::parse_notebook(text, options).value());
                         });
                     }};
    };
    return {
        {"parse", [&text] {
             return std::function<void()>([&text] {
                 ce::json::Arena arena;
                 ce::notebook::ReadOptions options;
                 options.arena = &arena;
                 sink = ce::notebook::parse_notebook(text, options).value().cells.size();
             });
         }},
        over_document("write", [](const Notebook& n) { return ce::notebook::to_vec_pretty(n).value().size(); }),
        {"strip_outputs", [&document] {
             auto copy = std::make_shared<Notebook>(document);
             return std::function<void()>([copy] { *copy = ce::converters::strip_outputs(std::move(*copy)); });
         }},
        over_document("markdown", [](const Notebook& n) { return text_size(ce::converters::to_markdown(n)); }),
        over_document("python", [](const Notebook& n) { return text_size(ce::converters::to_python(n)); }),
        over_document("html fragments", html_fragments),
        // What one module call does with the text, freeing included.
        call("strip call", true, [](Notebook&& n) {
            return ce::notebook::to_vec_pretty(ce::converters::strip_outputs(std::move(n))).value().size();
        }),
        call("markdown call", false, [](Notebook&& n) { return text_size(ce::converters::to_markdown(n)); }),
        call("python call", false, [](Notebook&& n) { return text_size(ce::converters::to_python(n)); }),
    };
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: engine_bench NOTEBOOK [RUNS [STAGE]]\n");
        return 2;
    }
    const int runs = argc >= 3 ? std::max(3, std::atoi(argv[2])) : 31;
    const std::string_view only = argc == 4 ? argv[3] : "";
    const std::string text = read_file(argv[1]);
    const Notebook document = parse_or_exit(text);
    const double mb = static_cast<double>(text.size()) / 1e6;

    std::printf("input %zu bytes, %zu cells, median of %d runs\n", text.size(), document.cells.size(), runs);
    std::printf("%-16s %12s %12s\n", "stage", "median ms", "MB/s");
    for (const Stage& stage : stages(text, document)) {
        if (!only.empty() && only != stage.name) continue;
        const double seconds = median_seconds(stage, runs);
        std::printf("%-16s %12.3f %12.1f\n", stage.name, seconds * 1e3, mb / seconds);
    }
    return 0;
}
