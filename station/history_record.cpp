#include "station/history_record.h"

#include <algorithm>
#include <cctype>

#include "station/checksum.h"

namespace mz::station {

const char* outcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::kSaved: return "saved";
    case Outcome::kRefused: return "refused";
    case Outcome::kFailed: return "failed";
    }
    return "failed";
}

std::optional<Outcome> parseOutcome(const std::string& text) {
    for (Outcome o : {Outcome::kSaved, Outcome::kRefused, Outcome::kFailed}) {
        if (text == outcomeName(o)) return o;
    }
    return std::nullopt;
}

std::string outputSetIdentity(const std::vector<FileEntry>& files) {
    if (files.empty()) return {};
    std::vector<const FileEntry*> sorted;
    for (const FileEntry& f : files) sorted.push_back(&f);
    std::sort(sorted.begin(), sorted.end(), [](const FileEntry* a, const FileEntry* b) { return a->path < b->path; });
    std::string lines;
    for (const FileEntry* f : sorted) lines += f->sha256 + "  " + f->path + "\n";
    return sha256Hex({reinterpret_cast<const uint8_t*>(lines.data()), lines.size()});
}

std::optional<std::string> checkSince(const std::string& since) {
    // Digits where the pattern has 9, the pattern's own character elsewhere.
    static const std::string kPatterns[] = {"9999-99-99", "9999-99-99T99:99", "9999-99-99T99:99:99"};
    for (const std::string& pattern : kPatterns) {
        if (since.size() != pattern.size()) continue;
        bool fits = true;
        for (size_t i = 0; i < pattern.size() && fits; ++i) {
            const unsigned char c = static_cast<unsigned char>(since[i]);
            fits = pattern[i] == '9' ? std::isdigit(c) != 0 : since[i] == pattern[i];
        }
        if (fits) return std::nullopt;
    }
    return "--since \"" + since + "\" is not a UTC date YYYY-MM-DD, optionally with THH:MM or THH:MM:SS";
}

}  // namespace mz::station
