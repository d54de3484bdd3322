#include "app/cli/batch_command.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <stdexcept>
#include <thread>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "app/cli/folded_output.h"
#include "app/cli/run_command.h"
#include "format/atomic_file.h"
#include "format/file_read.h"
#include "station/history_text.h"

namespace mz::cli {

namespace {

namespace fs = std::filesystem;

// What each bay's run leaves beside its output files.
constexpr const char* kBayLog = "calibration.log";
constexpr const char* kBayReport = "calibration-report.json";
constexpr const char* kBayCertificate = "certificate.html";

// Run's file options that name each bay's own file, relative to its folder. shared: an absolute
// path names one file that serves every bay (an overlay picture); the others hold one vehicle's
// points or pictures, which no other bay shares.
struct BayInput {
    const char* option;
    std::string RunOptions::*field;
    bool shared;
};
constexpr BayInput kBayInputs[] = {{"--points", &RunOptions::points, false},
                                   {"--survey", &RunOptions::survey, false},
                                   {"--quad", &RunOptions::quad, false},
                                   {"--overlay", &RunOptions::overlay, true}};

fs::path bayInput(const fs::path& bay, const std::string& path) {
    return fs::path(path).is_absolute() ? fs::path(path) : bay / path;
}

// A folder with the pictures of a bay: its image/ folder, or with --quad its four-quadrant picture.
bool isBay(const fs::path& folder, const BatchOptions& o) {
    std::error_code ec;
    if (!o.run.quad.empty()) return fs::is_regular_file(bayInput(folder, o.run.quad), ec);
    return fs::is_directory(folder / "image", ec);
}

std::string notABay(const BatchOptions& o) {
    return o.run.quad.empty() ? "no image/ folder in it" : "no " + o.run.quad + " in it (--quad)";
}

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::vector<Bay> listedBays(const std::string& list) {
    const fs::path base = fs::path(list).parent_path();
    std::vector<Bay> out;
    std::istringstream lines(format::readTextFile(list));
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        line = trimmed(line);
        if (line.empty() || line[0] == '#') continue;
        const size_t comma = line.find_first_of(",\t");
        const fs::path folder = trimmed(line.substr(0, comma));
        if (folder.empty()) throw std::runtime_error(list + ":" + std::to_string(number) + ": no bay folder");
        Bay bay{(folder.is_absolute() ? folder : base / folder).lexically_normal().string(), ""};
        if (comma != std::string::npos) bay.vehicle = trimmed(line.substr(comma + 1));
        out.push_back(bay);
    }
    return out;
}

// The bay's output folder: --out-root/NAME, or the bay itself as run has it.
fs::path outputFolder(const BatchOptions& o, const Bay& bay) {
    if (o.outRoot.empty()) return bay.folder;
    return fs::path(o.outRoot) / fs::path(bay.folder).lexically_normal().filename();
}

// What one bay came to, as its line, the summary and the exit status say it.
struct BayResult {
    int status = 1;
    RunOutcome outcome;
    double seconds = 0;
    bool passed() const {
        return status == 0 && outcome.outcome == station::Outcome::kSaved && outcome.verdict == "good";
    }
};

nlohmann::json outcomeJson(int status, const RunOutcome& o) {
    return {{"status", status},
            {"outcome", station::outcomeName(o.outcome)},
            {"verdict", o.verdict},
            {"pixel_sigma", o.pixelSigma ? nlohmann::json(*o.pixelSigma) : nlohmann::json()},
            {"worst_seam_mm", o.worstSeamMm ? nlohmann::json(*o.worstSeamMm) : nlohmann::json()},
            {"message", o.message.substr(0, 2000)}};
}

BayResult parseOutcome(const std::string& text) {
    BayResult r;
    const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
        r.outcome.message = "the run ended without saying how (see its " + std::string(kBayLog) + ")";
        return r;
    }
    r.status = j.value("status", 1);
    r.outcome.outcome = station::parseOutcome(j.value("outcome", "")).value_or(station::Outcome::kFailed);
    r.outcome.verdict = j.value("verdict", "");
    if (j["pixel_sigma"].is_number()) r.outcome.pixelSigma = j["pixel_sigma"].get<double>();
    if (j["worst_seam_mm"].is_number()) r.outcome.worstSeamMm = j["worst_seam_mm"].get<double>();
    r.outcome.message = j.value("message", "");
    return r;
}

// The bay's run in a process of its own: the workflow keeps state per process and prints as it
// goes, so each bay gets its own, its output in the bay's log, its outcome back through a pipe.
// Returns the child's id and the pipe's read end.
std::pair<pid_t, int> startBay(const RunOptions& options, const fs::path& log) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error(std::string("cannot make a pipe: ") + strerror(errno));
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(ends[0]);
        ::close(ends[1]);
        throw std::runtime_error(std::string("cannot start a run: ") + strerror(errno));
    }
    if (child > 0) {
        ::close(ends[1]);
        return {child, ends[0]};
    }
    ::close(ends[0]);
    const int logFd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int nothing = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (logFd >= 0) {
        ::dup2(logFd, STDOUT_FILENO);
        ::dup2(logFd, STDERR_FILENO);
    }
    if (nothing >= 0) ::dup2(nothing, STDIN_FILENO);
    RunOutcome outcome;
    int status = 1;
    try {
        const FoldedStdout folded;
        status = runRun(options, &outcome);
        std::fflush(stdout);
    } catch (const std::exception& e) {
        outcome.message = e.what();
        std::fprintf(stderr, "calibration-cli run: %s\n", e.what());
    }
    std::fflush(stdout);
    std::fflush(stderr);
    const std::string text = outcomeJson(status, outcome).dump();
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(ends[1], text.data() + done, text.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ::_exit(status);
}

std::string readAll(int fd) {
    std::string out;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            out.append(buffer, static_cast<size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    return out;
}

std::string seamText(const RunOutcome& o) {
    if (!o.worstSeamMm) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f mm", *o.worstSeamMm);
    return text;
}

// The bar on a terminal, redrawn in place; elsewhere one plain line per finished bay.
class Progress {
public:
    Progress(size_t total) : total_(total), terminal_(::isatty(STDERR_FILENO) != 0) {}
    // A line for stdout, with the bar taken away first and drawn again after it.
    void line(const std::string& text) {
        if (terminal_) std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
    }
    // The bar, on a terminal only.
    void draw(size_t done, size_t running) {
        if (!terminal_) return;
        constexpr size_t kWidth = 30;
        const size_t filled = total_ ? done * kWidth / total_ : kWidth;
        std::fprintf(stderr, "\r[%s%s] %zu/%zu bays, %zu running", std::string(filled, '#').c_str(),
                     std::string(kWidth - filled, '-').c_str(), done, total_, running);
        std::fflush(stderr);
    }
    // A bay finished: the plain line where no bar is drawn.
    void finished(size_t done, size_t running) {
        if (!terminal_) std::fprintf(stderr, "batch: %zu of %zu bays done, %zu running\n", done, total_, running);
    }
    void finish() {
        if (terminal_) std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
    }

private:
    size_t total_;
    bool terminal_;
};

std::string summaryCsv(const std::vector<Bay>& bays, const std::vector<BayResult>& results,
                       const std::vector<fs::path>& outputs) {
    std::string out =
        "bay,vehicle,passed,outcome,verdict,pixel_sigma,worst_seam_mm,seconds,exit_status,output_folder,"
        "message\r\n";
    const auto number = [](std::optional<double> v, const char* format) {
        if (!v) return std::string();
        char text[32];
        std::snprintf(text, sizeof text, format, *v);
        return std::string(text);
    };
    for (size_t i = 0; i < bays.size(); ++i) {
        const BayResult& r = results[i];
        const std::vector<std::string> fields = {bays[i].folder,
                                                 bays[i].vehicle,
                                                 r.passed() ? "yes" : "no",
                                                 station::outcomeName(r.outcome.outcome),
                                                 r.outcome.verdict,
                                                 number(r.outcome.pixelSigma, "%.4f"),
                                                 number(r.outcome.worstSeamMm, "%.2f"),
                                                 number(r.seconds, "%.1f"),
                                                 std::to_string(r.status),
                                                 outputs[i].string(),
                                                 r.outcome.message};
        std::string line;
        for (const std::string& f : fields) line += (line.empty() ? "" : ",") + station::csvField(f);
        out += line + "\r\n";
    }
    return out;
}

}  // namespace

RunOptions bayRun(const BatchOptions& o, const Bay& bay, const fs::path& output) {
    RunOptions run = o.run;
    run.data = bay.folder;
    if (run.config.empty()) run.config = (fs::path(bay.folder) / "Config.bin").string();
    run.vehicle = bay.vehicle;
    run.out = output.string();
    run.report = (output / kBayReport).string();
    if (o.certificates) run.certificate = (output / kBayCertificate).string();
    if (!o.run.snapshot.empty()) run.snapshot = (output / o.run.snapshot).string();
    for (const BayInput& input : kBayInputs) {
        std::string& path = run.*input.field;
        if (!path.empty()) path = bayInput(bay.folder, path).string();
    }
    return run;
}

void addBatchCommand(CLI::App& app, BatchOptions& o) {
    CLI::App* cmd = app.add_subcommand(
        "batch",
        "Calibrate many bays as run calibrates one, several at once. Exit status 0 only when every bay was saved "
        "with the verdict good (a run without refinement, --literal, has no verdict); 1 otherwise");
    cmd->add_option("BAY", o.bays,
                    "Bay folders (each with image/front.bmp ...), or one folder holding bay folders; each bay's "
                    "vehicle identifier is its folder's name");
    cmd->add_option("--list", o.list,
                    "File of bays, one a line: FOLDER or FOLDER,VEHICLE (relative to the list's folder; # comments)")
        ->check(CLI::ExistingFile);
    cmd->add_option("--config", o.run.config, "Config.bin of every bay (default: each bay's own Config.bin)")
        ->check(CLI::ExistingFile);
    cmd->add_option("--out-root", o.outRoot,
                    "Folder that gets one output folder per bay, named as the bay (default: each bay's own folder)");
    cmd->add_option("-j,--jobs", o.jobs, "Bays calibrated at once (default: the machine's cores)")
        ->check(CLI::Range(1u, 256u));
    cmd->add_option("--summary", o.summary, "Write one CSV line per bay: passed, outcome, verdict, worst seam, ...");
    cmd->add_option("--lut-version", o.run.lutVersion, "Data version of the output files, MAJOR.MINOR (default 1.0)");
    cmd->add_flag("--literal", o.run.literal,
                  "The detector's corners and the calibration library's rig as they come: no refinement");
    cmd->add_flag("--certificates", o.certificates,
                  std::string("Write each bay's calibration certificate into its output folder as ") + kBayCertificate +
                      " (run --certificate)");
    cmd->add_option("--points", o.run.points,
                    "Each bay's corrected pattern points (JSON, as run --points), in the bay folder");
    cmd->add_option("--survey", o.run.survey,
                    "Each bay's surveyed floor points (JSON, as run --survey), in the bay folder: no detection");
    cmd->add_option("--quad", o.run.quad,
                    "Each bay's four-quadrant picture (models above 200), in the bay folder; a bay is then a folder "
                    "holding it");
    cmd->add_option("--overlay", o.run.overlay,
                    "Overlay picture of the single views that write an OSD mask (as run --overlay): in each bay "
                    "folder, or one absolute path for every bay");
    cmd->add_option("--snapshot", o.run.snapshot,
                    "Write each bay's stitched top view as a bitmap of this name in its output folder");
    addStationOptions(cmd, o.run);
    // Hidden: run's options whose value each bay has of its own, taken only to say so.
    o.ownOptions = {{"--vehicle", ""}, {"--data", ""}, {"--out", ""}, {"--report", ""}, {"--certificate", ""}};
    for (auto& [name, value] : o.ownOptions) cmd->add_option(name, value)->group("");
    cmd->footer(
        "Per-bay files: a relative --points, --survey, --quad or --overlay names a file in each bay folder, "
        "which every bay must have; --overlay may instead be one absolute path for all bays. --snapshot "
        "names a file in each bay's output folder. Each bay's output folder also gets " +
        std::string(kBayLog) + " (what run printed) and " + kBayReport +
        " (run --report). Runs are recorded in the history as single runs are.");
}

std::vector<Bay> batchBays(const BatchOptions& o) {
    static const std::map<std::string, std::string> kInstead = {
        {"--vehicle", "each bay's vehicle is its folder's name or the --list file's second column"},
        {"--data", "the bays are the folders given, or --list FILE"},
        {"--out", "each bay writes into its own folder, or --out-root DIR/BAY"},
        {"--report", std::string("each bay's report is ") + kBayReport + " in its output folder"},
        {"--certificate",
         std::string("--certificates writes each bay's ") + kBayCertificate + " in its output folder"}};
    for (const auto& [name, value] : o.ownOptions) {
        if (!value.empty()) throw std::runtime_error(name + " is not a batch option: " + kInstead.at(name));
    }
    if (!o.list.empty() && !o.bays.empty()) throw std::runtime_error("give bay folders or --list, not both");
    for (const BayInput& input : kBayInputs) {
        const std::string& path = o.run.*input.field;
        if (!input.shared && fs::path(path).is_absolute()) {
            throw std::runtime_error(std::string(input.option) + " " + path +
                                     ": one vehicle's file cannot serve every bay; give its name in each bay "
                                     "folder (a relative path)");
        }
    }
    if (fs::path(o.run.snapshot).is_absolute()) {
        throw std::runtime_error("--snapshot " + o.run.snapshot +
                                 ": every bay would write this one file; give a name for each bay's output folder");
    }
    std::vector<Bay> bays;
    if (!o.list.empty()) {
        bays = listedBays(o.list);
    } else if (o.bays.size() == 1 && fs::is_directory(o.bays[0]) && !isBay(o.bays[0], o)) {
        std::set<fs::path> inside;
        for (const fs::directory_entry& e : fs::directory_iterator(o.bays[0])) {
            if (e.is_directory() && isBay(e.path(), o)) inside.insert(e.path());
        }
        if (inside.empty()) {
            throw std::runtime_error(o.bays[0] + ": neither a bay (" + notABay(o) + ") nor a folder of bays");
        }
        for (const fs::path& p : inside) bays.push_back({p.string(), ""});
    } else {
        for (const std::string& b : o.bays) bays.push_back({b, ""});
    }
    if (bays.empty()) throw std::runtime_error("no bays: give bay folders, a folder of them, or --list FILE");
    std::set<fs::path> outputs;
    for (Bay& bay : bays) {
        if (!isBay(bay.folder, o)) throw std::runtime_error(bay.folder + ": not a bay folder (" + notABay(o) + ")");
        for (const BayInput& input : kBayInputs) {
            const std::string& path = o.run.*input.field;
            std::error_code ec;
            if (!path.empty() && !fs::is_regular_file(bayInput(bay.folder, path), ec)) {
                throw std::runtime_error(bay.folder + ": no " + path + " in it (" + input.option +
                                         " names a file in each bay folder)");
            }
        }
        if (o.run.config.empty() && !fs::is_regular_file(fs::path(bay.folder) / "Config.bin")) {
            throw std::runtime_error(bay.folder + ": no Config.bin in it; give --config");
        }
        if (bay.vehicle.empty()) bay.vehicle = fs::path(bay.folder).lexically_normal().filename().string();
        if (!outputs.insert(outputFolder(o, bay).lexically_normal()).second) {
            throw std::runtime_error(outputFolder(o, bay).string() + ": two bays would write into this output folder");
        }
    }
    return bays;
}

int runBatch(const BatchOptions& o) {
    std::vector<Bay> bays;
    try {
        bays = batchBays(o);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "calibration-cli batch: %s\n", e.what());
        return 1;
    }
    const unsigned jobs = o.jobs ? o.jobs : std::max(1u, std::thread::hardware_concurrency());
    std::vector<fs::path> outputs;
    for (const Bay& bay : bays) outputs.push_back(outputFolder(o, bay));

    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    std::vector<BayResult> results(bays.size());
    struct Running {
        size_t bay;
        int pipe;
        Clock::time_point start;
    };
    std::map<pid_t, Running> running;
    Progress progress(bays.size());
    size_t next = 0, done = 0;
    while (done < bays.size()) {
        while (running.size() < jobs && next < bays.size()) {
            const size_t i = next++;
            const RunOptions run = bayRun(o, bays[i], outputs[i]);
            std::error_code ec;
            fs::create_directories(outputs[i], ec);
            try {
                const auto [pid, pipe] = startBay(run, outputs[i] / kBayLog);
                running[pid] = {i, pipe, Clock::now()};
            } catch (const std::exception& e) {
                results[i].outcome.message = e.what();
                ++done;
            }
        }
        if (running.empty()) continue;
        progress.draw(done, running.size());
        int status = 0;
        const pid_t pid = ::waitpid(-1, &status, 0);
        if (pid < 0) {
            if (errno == EINTR) continue;
            break;
        }
        const auto found = running.find(pid);
        if (found == running.end()) continue;
        const Running r = found->second;
        running.erase(found);
        BayResult& result = results[r.bay];
        result = parseOutcome(readAll(r.pipe));
        ::close(r.pipe);
        result.seconds = std::chrono::duration<double>(Clock::now() - r.start).count();
        if (WIFSIGNALED(status)) {
            result.status = 128 + WTERMSIG(status);
            result.outcome.message = "the run was ended by signal " + std::to_string(WTERMSIG(status));
        }
        ++done;
        const RunOutcome& out = result.outcome;
        char head[160];
        std::snprintf(head, sizeof head, "%-20s %-7s %-5s worst seam %-9s", bays[r.bay].vehicle.c_str(),
                      station::outcomeName(out.outcome), out.verdict.empty() ? "-" : out.verdict.c_str(),
                      seamText(out).c_str());
        progress.line(std::string(head) + (out.message.empty() ? "" : " " + out.message.substr(0, 300)) + "  (" +
                      outputs[r.bay].string() + ")");
        progress.finished(done, running.size());
    }
    progress.finish();

    size_t passed = 0;
    for (const BayResult& r : results) passed += r.passed();
    rusage children{};
    ::getrusage(RUSAGE_CHILDREN, &children);
    const double cpu = static_cast<double>(children.ru_utime.tv_sec + children.ru_stime.tv_sec) +
                       (children.ru_utime.tv_usec + children.ru_stime.tv_usec) / 1e6;
    std::printf("%zu of %zu bays saved with the verdict good; %.1f s, %.1f s of processor time, %u at once\n", passed,
                bays.size(), std::chrono::duration<double>(Clock::now() - start).count(), cpu, jobs);
    int exitStatus = passed == bays.size() ? 0 : 1;
    if (!o.summary.empty()) {
        try {
            format::writeFileAtomically(o.summary, summaryCsv(bays, results, outputs));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "calibration-cli batch: cannot write the summary %s: %s\n", o.summary.c_str(),
                         e.what());
            exitStatus = 1;
        }
    }
    return exitStatus;
}

}  // namespace mz::cli
