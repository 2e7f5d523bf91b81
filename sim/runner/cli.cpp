#include "cli.h"

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include <CLI/CLI.hpp>

#include "picture.h"
#include "report.h"
#include "scenario.h"

namespace runner {

namespace {

bool write_file(const std::string& path, const std::string& what, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        std::cerr << "rykxy-sim: cannot write the " << what << " to " << path << "\n";
        return false;
    }
    return true;
}

}  // namespace

int run_command_line(int argc, char** argv, const ProgramMain& program) {
    return run_command_line(argc, argv, program, Tools());
}

int run_command_line(int argc, char** argv, const ProgramMain& program, const Tools& tools) {
    CLI::App app{"Runs RykXyLdr on a simulated Windows machine as a scenario file describes, and reports what it did.",
                 "rykxy-sim"};
    std::string scenario_path, trace_path, svg_path;
    bool quiet = false, expect_clean = false;
    int expect_exit = 0;
    app.add_option("SCENARIO", scenario_path, "the scenario file (TOML)")->required();
    app.add_option("--trace", trace_path, "write every event as JSON Lines to FILE")->type_name("FILE");
    app.add_option("--svg", svg_path, "draw the run as an SVG picture to FILE")->type_name("FILE");
    app.add_flag("-q,--quiet", quiet, "no timeline, only the summary (the timeline still follows a failed expectation)");
    CLI::Option* exit_opt =
        app.add_option("--expect-exit", expect_exit, "fail unless the program ends with exit code N")->type_name("N");
    app.add_flag("--expect-clean", expect_clean,
                 "fail if the run has a protocol error or a misuse, or the ended program left a mouse button down");
    CLI11_PARSE(app, argc, argv);

    Scenario sc;
    try {
        sc = load_scenario(scenario_path);
    } catch (const ScenarioError& e) {
        std::cerr << "rykxy-sim: " << e.what() << "\n";
        return 2;
    }

    const RunResult r = play(sc, program, tools);

    std::vector<std::string> failures = r.tool_failures;
    if (exit_opt->count() > 0) {
        if (!r.ended)
            failures.push_back("expected exit code " + std::to_string(expect_exit) + ", but the program did not end");
        else if (static_cast<int64_t>(r.exit_code) != expect_exit)
            failures.push_back("expected exit code " + std::to_string(expect_exit) + ", the program ended with " +
                               std::to_string(r.exit_code));
    }
    if (expect_clean && (!r.protocol_errors.empty() || !r.misuse.empty()))
        failures.push_back("expected a clean run, got " + std::to_string(r.protocol_errors.size()) +
                           " protocol error(s) and " + std::to_string(r.misuse.size()) + " misuse");
    if (expect_clean && !r.buttons_held.empty())
        failures.push_back("expected a clean run, but the ended program left " + std::to_string(r.buttons_held.size()) +
                           " mouse button(s) down");

    if (!quiet || !failures.empty()) write_timeline(std::cout, sc, r);
    write_summary(std::cout, r);
    std::cout.flush();

    bool written = true;
    if (!trace_path.empty()) {
        std::ostringstream s;
        write_jsonl(s, r);
        written = write_file(trace_path, "trace", s.str()) && written;
    }
    if (!svg_path.empty()) written = write_file(svg_path, "picture", render_svg(sc, r)) && written;

    for (const auto& f : failures) std::cerr << "rykxy-sim: " << scenario_path << ": " << f << "\n";
    if (!written) return 2;
    return failures.empty() ? 0 : 1;
}

}  // namespace runner
