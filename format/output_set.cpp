#include "format/output_set.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <mutex>
#include <random>
#include <set>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <zlib.h>

#include "format/atomic_file.h"
#include "format/file_read.h"

namespace mz::format {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr const char* kNewSuffix = ".mz-new";
constexpr const char* kOldSuffix = ".mz-old";
constexpr const char* kManifestSuffix = ".set.json";
constexpr const char* kJournalSuffix = ".set.journal";
constexpr const char* kFormat = "mz-output-set-1";
constexpr uint64_t kMaxListBytes = uint64_t{4} << 20;  // a journal or manifest of some thousand files
// Staged files held open until their sync; a larger set is synced in batches of this many.
constexpr size_t kMaxUnsynced = 64;

std::mutex& hookMutex() {
    static std::mutex m;
    return m;
}

SetFaultHook& hookSlot() {
    static SetFaultHook hook;
    return hook;
}

// Asks the test hook; a step it fails behaves as an input/output error of the system.
void step(SetStep s, const fs::path& target) {
    SetFaultHook hook;
    {
        std::lock_guard lock(hookMutex());
        hook = hookSlot();
    }
    if (hook && hook(s, target)) throw std::runtime_error("cannot write " + target.string() + ": input/output error");
}

fs::path withSuffix(fs::path p, const char* suffix) {
    p += suffix;
    return p;
}

bool endsWith(const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

bool present(const fs::path& p) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(p, ec));
}

std::string lowerFirst(std::string text) {
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

void move(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::rename(from, to, ec);
    if (ec) throw std::runtime_error("cannot put " + to.string() + " in place: " + lowerFirst(ec.message()));
}

// A folder's entries reach the disk only with the folder itself. Filesystems that cannot sync a
// folder say EINVAL; their renames are as durable as they get.
void syncFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open the folder " + folder.string() + " to sync it");
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    if (!synced) throw std::runtime_error("cannot sync the folder " + folder.string() + " to the disk");
}

std::string hex8(uint32_t v) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", v);
    return text;
}

std::string utcNow(const char* format) {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, format, &utc);
    return text;
}

json readList(const fs::path& path) {
    std::vector<uint8_t> bytes;
    const std::string problem = readWholeFile(path, kMaxListBytes, bytes);
    if (!problem.empty()) throw std::runtime_error(path.string() + " " + problem);
    json j = json::parse(bytes.begin(), bytes.end(), nullptr, false);
    if (j.is_discarded() || !j.is_object() || j.value("format", "") != kFormat || !j.contains("files") ||
        !j["files"].is_array())
        throw std::runtime_error(path.string() + " is not a list of output files this tool wrote");
    return j;
}

// The relative paths of a journal or manifest; one that could leave the root is refused.
std::vector<fs::path> listedPaths(const json& list, const fs::path& where, const char* key = "files") {
    std::vector<fs::path> paths;
    if (!list.contains(key) || !list[key].is_array()) return paths;
    for (const json& f : list[key]) {
        const json& path = f.is_object() && f.contains("path") ? f["path"] : f;
        if (!path.is_string()) throw std::runtime_error(where.string() + " lists a file without a name");
        const fs::path p = fs::path(path.get<std::string>()).lexically_normal();
        if (p.empty() || p.is_absolute() || *p.begin() == "..")
            throw std::runtime_error(where.string() + " lists " + p.string() + ", which is not below its folder");
        paths.push_back(p);
    }
    return paths;
}

// What a journal lists: the files the save puts in place, and those of the previous set that the
// new one has not (the display unit would flash them with it).
struct Journal {
    std::vector<fs::path> files, dropped;
};

std::set<fs::path> foldersOf(const fs::path& root, const Journal& j) {
    std::set<fs::path> folders{root};
    for (const auto* list : {&j.files, &j.dropped})
        for (const fs::path& r : *list) folders.insert((root / r).parent_path());
    return folders;
}

// Moves a final name aside as .mz-old (once: a second pass finds it moved).
void keepAside(const fs::path& final) {
    const fs::path old = withSuffix(final, kOldSuffix);
    if (present(final) && !present(old)) {
        step(SetStep::kBackup, final);
        move(final, old);
    }
}

// Puts the staged files of a journal in place, the previous ones kept as .mz-old until all are.
void rollForward(const fs::path& root, const Journal& j) {
    for (const fs::path& r : j.files) {
        const fs::path final = root / r, fresh = withSuffix(final, kNewSuffix);
        if (!present(fresh)) continue;  // placed before the interruption
        std::error_code ec;
        if (fs::is_directory(fs::symlink_status(final, ec)))
            throw std::runtime_error("cannot put " + final.string() + " in place: a folder has that name");
        keepAside(final);
        step(SetStep::kPlace, final);
        move(fresh, final);
    }
    for (const fs::path& r : j.dropped) keepAside(root / r);
    step(SetStep::kSyncFolders, root);
    for (const fs::path& folder : foldersOf(root, j)) syncFolder(folder);
}

// Every final name back to what it held before the journal was written.
void rollBack(const fs::path& root, const Journal& j) {
    for (const fs::path& r : j.files) {
        const fs::path final = root / r, fresh = withSuffix(final, kNewSuffix), old = withSuffix(final, kOldSuffix);
        std::error_code ec;
        if (present(old)) move(old, final);
        else if (!present(fresh)) fs::remove(final, ec);  // placed, and there was nothing before it
        fs::remove(fresh, ec);
    }
    for (const fs::path& r : j.dropped) {
        const fs::path final = root / r, old = withSuffix(final, kOldSuffix);
        if (present(old)) move(old, final);
    }
    for (const fs::path& folder : foldersOf(root, j)) syncFolder(folder);
}

void finish(const fs::path& root, const Journal& j, const fs::path& journal) {
    std::error_code ec;
    try {
        step(SetStep::kRemoveBackups, root);
        for (const auto* list : {&j.files, &j.dropped})
            for (const fs::path& r : *list) fs::remove(withSuffix(root / r, kOldSuffix), ec);
    } catch (const std::exception&) {
        // The set is in place; a backup that stays is only a stale temporary the next writer removes.
    }
    step(SetStep::kFinish, journal);
    fs::remove(journal, ec);
    if (ec) throw std::runtime_error("cannot remove " + journal.string() + ": " + lowerFirst(ec.message()));
    syncFolder(root);
}

// Puts the journal's files in place, or when one of them cannot be, every final name back as it
// was; returns then why (empty when the set is in place). Throws when even that fails: the journal
// stays for the next writer.
std::string resolve(const fs::path& root, const fs::path& journal) {
    const json list = readList(journal);
    const Journal j{listedPaths(list, journal), listedPaths(list, journal, "dropped")};
    try {
        rollForward(root, j);
    } catch (const std::exception& e) {
        try {
            rollBack(root, j);
        } catch (const std::exception& again) {
            throw UnresolvedSave(std::string(e.what()) + "; undoing the save failed too: " + again.what());
        }
        std::error_code ec;
        fs::remove(journal, ec);
        syncFolder(root);
        return e.what();
    }
    finish(root, j, journal);
    return {};
}

std::vector<fs::path> entriesEndingWith(const fs::path& folder, const char* suffix) {
    std::vector<fs::path> found;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (endsWith(it->path().filename().string(), suffix)) found.push_back(it->path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

// The root and the folders directly below it (not through links): where sets put their files.
std::vector<fs::path> setFolders(const fs::path& root) {
    std::vector<fs::path> folders{root};
    std::error_code ec;
    for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code kind;
        if (fs::is_directory(it->symlink_status(kind))) folders.push_back(it->path());
    }
    return folders;
}

std::vector<fs::path> temporaries(const fs::path& root) {
    std::vector<fs::path> found;
    for (const fs::path& folder : setFolders(root)) {
        for (const char* suffix : {kNewSuffix, kOldSuffix}) {
            const std::vector<fs::path> some = entriesEndingWith(folder, suffix);
            found.insert(found.end(), some.begin(), some.end());
        }
    }
    return found;
}

std::vector<std::string> repairLocked(const fs::path& root) {
    std::vector<std::string> done;
    for (const fs::path& journal : entriesEndingWith(root, kJournalSuffix)) {
        const std::string undone = resolve(root, journal);
        done.push_back((undone.empty() ? "finished the interrupted save of " : "undid the interrupted save of ") +
                       journal.filename().string() + (undone.empty() ? "" : " (" + undone + ")"));
    }
    // Without a journal every temporary is from a writer that stopped before its renames began
    // or after they ended.
    for (const fs::path& temp : temporaries(root)) {
        std::error_code ec;
        if (fs::remove(temp, ec)) done.push_back("removed " + temp.string());
    }
    return done;
}

// Holds the root's lock for as long as it lives: writers into one folder take turns.
int lockFolder(const fs::path& root) {
    const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open the output folder " + root.string());
    if (::flock(fd, LOCK_EX) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot lock the output folder " + root.string());
    }
    return fd;
}

struct FolderLock {
    int fd;
    explicit FolderLock(const fs::path& root) : fd(lockFolder(root)) {}
    ~FolderLock() { ::close(fd); }
};

// `state` is a finished CRC-32 (0 for none yet), as zlib chains them.
uint32_t crcUpdate(uint32_t state, const uint8_t* bytes, size_t count) {
    uLong crc = state;
    while (count > 0) {
        const uInt n = static_cast<uInt>(std::min<size_t>(count, size_t{1} << 30));
        crc = ::crc32(crc, bytes, n);
        bytes += n;
        count -= n;
    }
    return static_cast<uint32_t>(crc);
}

uint32_t crcOfFile(const fs::path& path, uint64_t& size) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> chunk(1 << 16);
    uint32_t state = 0;
    size = 0;
    while (in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const auto got = static_cast<size_t>(in.gcount());
        state = crcUpdate(state, reinterpret_cast<const uint8_t*>(chunk.data()), got);
        size += got;
    }
    return state;
}

}  // namespace

uint32_t crc32(std::span<const uint8_t> bytes) { return crcUpdate(0, bytes.data(), bytes.size()); }

void setSetFaultHook(SetFaultHook hook) {
    std::lock_guard lock(hookMutex());
    hookSlot() = std::move(hook);
}

std::string manifestName(const std::string& set) { return set + kManifestSuffix; }
std::string journalName(const std::string& set) { return set + kJournalSuffix; }

OutputSet::OutputSet(fs::path root, std::string set, std::string tool)
    : root_(std::move(root)), set_(std::move(set)), tool_(std::move(tool)) {
    std::error_code ec;
    fs::create_directories(root_, ec);
    if (ec) throw std::runtime_error("cannot create " + root_.string() + ": " + lowerFirst(ec.message()));
    lock_ = lockFolder(root_);
    try {
        repairLocked(root_);
    } catch (...) {
        ::close(lock_);
        throw;
    }
}

OutputSet::~OutputSet() {
    abandon();
    ::close(lock_);
}

void OutputSet::stage(const fs::path& relative, std::span<const uint8_t> bytes) {
    const fs::path final = root_ / relative;
    step(SetStep::kStage, final);
    std::error_code ec;
    fs::create_directories(final.parent_path(), ec);
    if (ec)
        throw std::runtime_error("cannot write " + final.string() + ": cannot create its folder (" +
                                 lowerFirst(ec.message()) + ")");
    UnsyncedFile written(withSuffix(final, kNewSuffix), bytes, final);
    files_.push_back({relative.lexically_normal(), bytes.size(), crc32(bytes), std::move(written)});
    if (++unsynced_ >= kMaxUnsynced) syncStaged();
}

// A file whose sync fails is no longer staged (sync removed it); the exception names it.
void OutputSet::syncStaged() {
    for (auto f = files_.begin(); f != files_.end(); ++f) {
        if (!f->unsynced) continue;
        try {
            f->unsynced->sync();
        } catch (...) {
            files_.erase(f);
            unsynced_ = static_cast<size_t>(
                std::count_if(files_.begin(), files_.end(), [](const Staged& s) { return s.unsynced.has_value(); }));
            throw;
        }
        f->unsynced.reset();
    }
    unsynced_ = 0;
}

void OutputSet::abandon() {
    unsynced_ = 0;
    std::error_code ec;
    for (const Staged& f : files_) fs::remove(withSuffix(root_ / f.relative, kNewSuffix), ec);
    files_.clear();
}

void OutputSet::commit() {
    std::random_device random;
    const std::string id = utcNow("%Y%m%dT%H%M%SZ") + "-" + hex8(random());
    // Identity first, in this order: a person reads the manifest as much as a program.
    nlohmann::ordered_json manifest = {{"format", kFormat}, {"set", set_},
                                       {"id", id},          {"written", utcNow("%Y-%m-%dT%H:%M:%SZ")},
                                       {"tool", tool_},     {"files", nlohmann::ordered_json::array()}};
    for (const Staged& f : files_)
        manifest["files"].push_back(
            {{"path", f.relative.generic_string()}, {"bytes", f.bytes}, {"crc32", hex8(f.crc)}});
    const std::string text = manifest.dump(2) + "\n";
    stage(manifestName(set_), std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    // The journal may only speak for files the disk holds.
    syncStaged();

    json journal = {{"format", kFormat}, {"set", set_}, {"id", id}, {"files", json::array()}};
    std::set<fs::path> kept;
    for (const Staged& f : files_) {
        journal["files"].push_back(f.relative.generic_string());
        kept.insert(f.relative);
    }
    journal["dropped"] = json::array();
    try {
        const fs::path previous = root_ / manifestName(set_);
        if (present(previous)) {
            for (const fs::path& r : listedPaths(readList(previous), previous))
                if (!kept.count(r)) journal["dropped"].push_back(r.generic_string());
        }
    } catch (const std::exception&) {
        // A manifest this tool cannot read names no files of its own to take away.
    }
    const std::string listed = journal.dump(2) + "\n";
    const fs::path journalPath = root_ / journalName(set_);
    step(SetStep::kJournal, journalPath);
    writeFileSynced(withSuffix(journalPath, kNewSuffix),
                    std::span(reinterpret_cast<const uint8_t*>(listed.data()), listed.size()), journalPath);
    move(withSuffix(journalPath, kNewSuffix), journalPath);
    syncFolder(root_);
    // From here on the journal speaks for the staged files: the next writer finishes what this
    // one leaves, so they are no longer this object's to remove.
    files_.clear();
    const std::string undone = resolve(root_, journalPath);
    if (!undone.empty()) throw std::runtime_error(undone);
}

std::vector<std::string> repairOutputSets(const fs::path& root) {
    FolderLock lock(root);
    return repairLocked(root);
}

std::vector<SetCheck> checkOutputSets(const fs::path& root) {
    std::vector<SetCheck> checks;
    std::set<fs::path> listed;  // every file some manifest of the root names, the manifests too
    std::set<fs::path> folders;
    for (const fs::path& journal : entriesEndingWith(root, kJournalSuffix)) {
        SetCheck c;
        const std::string name = journal.filename().string();
        c.set = name.substr(0, name.size() - std::string(kJournalSuffix).size());
        c.interrupted = true;
        c.problems.push_back("a save was interrupted (" + name + " is there): `calibration-cli inspect --repair " +
                             root.string() + "` finishes or undoes it");
        checks.push_back(c);
    }
    for (const fs::path& manifest : entriesEndingWith(root, kManifestSuffix)) {
        SetCheck c;
        const std::string name = manifest.filename().string();
        c.set = name.substr(0, name.size() - std::string(kManifestSuffix).size());
        listed.insert(manifest.lexically_normal());
        try {
            const json j = readList(manifest);
            c.id = j.value("id", "");
            c.written = j.value("written", "");
            c.tool = j.value("tool", "");
            const std::vector<fs::path> paths = listedPaths(j, manifest);
            c.files = paths.size();
            for (size_t i = 0; i < paths.size(); ++i) {
                const fs::path file = root / paths[i];
                listed.insert(file.lexically_normal());
                folders.insert(file.parent_path().lexically_normal());
                const json& f = j["files"][i];
                std::error_code ec;
                if (!fs::is_regular_file(file, ec)) {
                    c.problems.push_back(paths[i].generic_string() + ": missing");
                    continue;
                }
                uint64_t size = 0;
                const uint32_t crc = crcOfFile(file, size);
                if (!f.is_object() || f.value("bytes", uint64_t{0}) != size || f.value("crc32", "") != hex8(crc))
                    c.problems.push_back(paths[i].generic_string() +
                                         ": not of this set (its size or checksum differs)");
            }
        } catch (const std::exception& e) {
            c.problems.push_back(e.what());
        }
        checks.push_back(c);
    }
    // A file beside the set's files that no manifest names would be flashed with them all the same.
    folders.erase(root.lexically_normal());
    std::vector<std::string> strays;
    for (const fs::path& folder : folders) {
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code kind;
            if (!it->is_regular_file(kind) || listed.count(it->path().lexically_normal())) continue;
            const std::string name = fs::relative(it->path(), root).generic_string();
            const bool temporary = endsWith(name, kNewSuffix) || endsWith(name, kOldSuffix);
            strays.push_back(
                name + (temporary ? ": left by a save that stopped (the next save removes it)" : ": not of this set"));
        }
    }
    std::sort(strays.begin(), strays.end());
    for (SetCheck& c : checks)
        if (!c.interrupted) c.problems.insert(c.problems.end(), strays.begin(), strays.end());
    if (checks.empty()) checks.push_back({});
    return checks;
}

}  // namespace mz::format
