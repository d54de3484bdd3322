// The station history's costs on a run: opening the file and recording one run (a write
// transaction into the WAL file), with and without naming its certificate afterwards as run
// --certificate does, the checksums of the sample bay's output set (of the bytes as the save holds
// them, as a run takes them, and read back from the disk, as for a file the run holds no bytes
// of), and listing a history of 10,000 runs. Goals: at most 10 ms added to a run, 10,000 runs
// listed in 0.2 s.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "station/checksum.h"
#include "station/history.h"

namespace {

namespace fs = std::filesystem;
using namespace mz::station;

fs::path benchFolder() {
    const fs::path dir = fs::temp_directory_path() / ("mz_bench_history_" + std::to_string(getpid()));
    fs::create_directories(dir);
    return dir;
}

// A run like the sample bay's: 4 pictures, 23 output files.
HistoryRecord sampleBayRun(int index) {
    HistoryRecord r;
    r.recordedAt = "2026-12-09T08:00:00Z";
    r.station = "EOL-3";
    r.operatorName = "operator";
    r.vehicle = "VIN-" + std::to_string(index % 500);
    r.softwareVersion = "0.1.0";
    r.model = "AVM 1.65";
    r.modelCode = 165;
    r.configSha256 = std::string(64, 'c');
    r.mode = "pattern";
    r.verdict = "good";
    for (CameraEntry& k : r.cameras) k.posed = true;
    for (int c = 0; c < 4; ++c) r.pictures.push_back({"image/" + std::to_string(c) + ".bmp", {}, 1036854, "p"});
    for (int i = 0; i < 23; ++i) r.files.push_back({"Lut/T" + std::to_string(i) + ".bin", i, 1382400, "f"});
    r.outcome = Outcome::kSaved;
    r.details = std::string(6000, ' ');  // the size of the refinement's figures
    return r;
}

// What run does once the files are saved: open the history, record the run.
void BM_OpenAndRecordRun(benchmark::State& state) {
    const fs::path path = benchFolder() / "record.sqlite";
    const HistoryRecord run = sampleBayRun(1);
    for (auto _ : state) benchmark::DoNotOptimize(openHistory(path.string(), true)->append(run));
    fs::remove_all(path.parent_path());
}
BENCHMARK(BM_OpenAndRecordRun)->Unit(benchmark::kMillisecond);

// The record alone, the history kept open: what the open and the close (the log folded into the
// file, synced) add is the difference to the above.
void BM_RecordRunInOpenHistory(benchmark::State& state) {
    const fs::path path = benchFolder() / "open.sqlite";
    const HistoryRecord run = sampleBayRun(1);
    const std::unique_ptr<History> history = openHistory(path.string(), true);
    for (auto _ : state) benchmark::DoNotOptimize(history->append(run));
    fs::remove_all(path.parent_path());
}
BENCHMARK(BM_RecordRunInOpenHistory)->Unit(benchmark::kMillisecond);

// run --certificate: the record, then the certificate's name in it once the page is written.
void BM_OpenRecordAndNameCertificate(benchmark::State& state) {
    const fs::path path = benchFolder() / "certificate.sqlite";
    const HistoryRecord run = sampleBayRun(1);
    for (auto _ : state) {
        const std::unique_ptr<History> history = openHistory(path.string(), true);
        history->setCertificate(history->append(run), "/srv/eol/out/bay01/certificate.html");
    }
    fs::remove_all(path.parent_path());
}
BENCHMARK(BM_OpenRecordAndNameCertificate)->Unit(benchmark::kMillisecond);

// An output set of the sample bay's size: 23 files, 21.4 MB.
std::vector<std::vector<uint8_t>> sampleBayOutputs() {
    std::vector<std::vector<uint8_t>> files;
    for (int i = 0; i < 23; ++i) files.emplace_back(i < 5 ? 1382400 : 768000, static_cast<uint8_t>(i));
    return files;
}

// What the save's writer thread adds, file by file, beside the caller making the next table.
void BM_OutputSetChecksumsOfBytesHeld(benchmark::State& state) {
    const std::vector<std::vector<uint8_t>> files = sampleBayOutputs();
    for (auto _ : state) {
        for (const std::vector<uint8_t>& f : files) benchmark::DoNotOptimize(sha256Hex(f));
    }
}
BENCHMARK(BM_OutputSetChecksumsOfBytesHeld)->Unit(benchmark::kMillisecond);

void BM_OutputSetChecksumsReadBack(benchmark::State& state) {
    const fs::path dir = benchFolder() / "out";
    fs::create_directories(dir);
    std::vector<fs::path> files;
    for (const std::vector<uint8_t>& bytes : sampleBayOutputs()) {
        files.push_back(dir / (std::to_string(files.size()) + ".bin"));
        std::ofstream(files.back(), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    for (auto _ : state) benchmark::DoNotOptimize(fileDigests(files));
    fs::remove_all(dir.parent_path());
}
BENCHMARK(BM_OutputSetChecksumsReadBack)->Unit(benchmark::kMillisecond);

void BM_List10000Runs(benchmark::State& state) {
    const fs::path path = benchFolder() / "list.sqlite";
    {
        const std::unique_ptr<History> history = openHistory(path.string(), true);
        for (int i = 0; i < 10000; ++i) history->append(sampleBayRun(i));
    }
    for (auto _ : state) {
        const std::unique_ptr<History> history = openHistory(path.string(), false);
        benchmark::DoNotOptimize(history->list({}));
    }
    fs::remove_all(path.parent_path());
}
BENCHMARK(BM_List10000Runs)->Unit(benchmark::kMillisecond);

}  // namespace
