#include "station/history_text.h"

#include <cstdio>
#include <ctime>

#include <nlohmann/json.hpp>

namespace mz::station {

using nlohmann::json;

namespace {

template <typename T>
json optional(const std::optional<T>& v) {
    return v ? json(*v) : json(nullptr);
}

json filesJson(const std::vector<FileEntry>& files) {
    json out = json::array();
    for (const FileEntry& f : files) {
        out.push_back({{"path", f.path}, {"id", optional(f.identifier)}, {"bytes", f.bytes}, {"sha256", f.sha256}});
    }
    return out;
}

std::string number(double v, const char* format = "%.3f") {
    char text[64];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

template <typename T>
std::string optionalText(const std::optional<T>& v) {
    if (!v) return "";
    if constexpr (std::is_floating_point_v<T>) return number(*v);
    return std::to_string(*v);
}

}  // namespace

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

json recordJson(const HistoryRecord& r, bool whole) {
    json j = {{"id", r.id},
              {"recordedAt", r.recordedAt},
              {"station", r.station},
              {"operator", r.operatorName},
              {"vehicle", r.vehicle},
              {"softwareVersion", r.softwareVersion},
              {"model", r.model},
              {"modelCode", r.modelCode},
              {"config", {{"path", r.configPath}, {"sha256", r.configSha256}}},
              {"mode", r.mode},
              {"calibrationResult", optional(r.calibrationResult)},
              {"verdict", r.verdict},
              {"pixelSigma", optional(r.pixelSigma)},
              {"worstSeamMm", optional(r.worstSeamMm)},
              {"profile", r.profile},
              {"profileOverridden", r.profileOverridden},
              {"outputFolder", r.outputFolder},
              {"outputSet", r.outputSet},
              {"outcome", outcomeName(r.outcome)},
              {"message", r.message},
              {"certificate", r.certificatePath}};
    if (!whole) return j;
    json cameras = json::object();
    for (int c = 0; c < kStationCameras; ++c) {
        const CameraEntry& k = r.cameras[c];
        json cam = {{"detection", optional(k.detection)}, {"corrected", k.corrected}, {"rmsPx", optional(k.rmsPx)}};
        if (k.posed) {
            cam.update({{"posX", k.posX},
                        {"posY", k.posY},
                        {"posZ", k.posZ},
                        {"rotX", k.rotX},
                        {"rotY", k.rotY},
                        {"rotZ", k.rotZ}});
        }
        if (!k.tolerance.empty()) cam["tolerance"] = {{"verdict", k.tolerance}, {"note", k.toleranceNote}};
        cameras[kStationCameraKeys[c]] = cam;
    }
    j["cameras"] = cameras;
    j["pictures"] = filesJson(r.pictures);
    j["files"] = filesJson(r.files);
    const json details = json::parse(r.details, nullptr, false);
    j["details"] = details.is_discarded() ? json(nullptr) : details;
    return j;
}

std::string recordsCsv(const std::vector<HistoryRecord>& records) {
    std::string out =
        "id,recorded_at,station,operator,vehicle,software_version,model,model_code,config_sha256,mode,"
        "calibration_result,verdict,pixel_sigma,worst_seam_mm,profile,profile_overridden,outcome,message,"
        "output_folder,output_set,files,certificate";
    for (const char* key : kStationCameraKeys) {
        for (const char* field : {"pos_x", "pos_y", "pos_z", "rot_x", "rot_y", "rot_z", "tolerance"}) {
            out += std::string(",") + key + "_" + field;
        }
    }
    out += "\r\n";
    for (const HistoryRecord& r : records) {
        const std::string fields[] = {std::to_string(r.id),
                                      r.recordedAt,
                                      r.station,
                                      r.operatorName,
                                      r.vehicle,
                                      r.softwareVersion,
                                      r.model,
                                      std::to_string(r.modelCode),
                                      r.configSha256,
                                      r.mode,
                                      optionalText(r.calibrationResult),
                                      r.verdict,
                                      optionalText(r.pixelSigma),
                                      optionalText(r.worstSeamMm),
                                      r.profile,
                                      r.profileOverridden ? "1" : "0",
                                      outcomeName(r.outcome),
                                      r.message,
                                      r.outputFolder,
                                      r.outputSet,
                                      std::to_string(r.files.size()),
                                      r.certificatePath};
        std::string line;
        for (const std::string& f : fields) line += (line.empty() ? "" : ",") + csvField(f);
        for (const CameraEntry& k : r.cameras) {
            for (double v : {k.posX, k.posY, k.posZ, k.rotX, k.rotY, k.rotZ}) line += "," + (k.posed ? number(v) : "");
            line += "," + csvField(k.tolerance);
        }
        out += line + "\r\n";
    }
    return out;
}

std::string recordText(const HistoryRecord& r) {
    std::string t;
    auto line = [&t](const std::string& label, const std::string& value) {
        if (!value.empty()) t += label + std::string(label.size() < 18 ? 18 - label.size() : 1, ' ') + value + "\n";
    };
    line("Run", std::to_string(r.id));
    line("Recorded (UTC)", r.recordedAt);
    line("Station", r.station);
    line("Operator", r.operatorName);
    line("Vehicle", r.vehicle);
    line("Software", r.softwareVersion);
    line("Model", r.model + " (code " + std::to_string(r.modelCode) + ")");
    line("Config.bin", r.configPath + "  sha256 " + r.configSha256);
    line("Mode", r.mode);
    line("Calibration", optionalText(r.calibrationResult));
    line("Verdict", r.verdict);
    line("Pixel sigma", r.pixelSigma ? number(*r.pixelSigma, "%.3f px") : "");
    line("Worst seam", r.worstSeamMm ? number(*r.worstSeamMm, "%.1f mm (predicted, 95th percentile)") : "");
    line("Profile",
         r.profile.empty() ? "" : r.profile + (r.profileOverridden ? " (out of tolerance, overridden)" : ""));
    line("Outcome", std::string(outcomeName(r.outcome)) + (r.message.empty() ? "" : ": " + r.message));
    char row[200];
    std::snprintf(row, sizeof row, "%-6s %9s %9s %8s %7s %7s %8s  %s\n", "camera", "posX mm", "posY mm", "height",
                  "tilt", "roll", "heading", "tolerance");
    t += row;
    for (int c = 0; c < kStationCameras; ++c) {
        const CameraEntry& k = r.cameras[c];
        if (!k.posed) {
            std::snprintf(row, sizeof row, "%-6s %9s\n", kStationCameraKeys[c], "(no pose)");
        } else {
            std::snprintf(row, sizeof row, "%-6s %9.1f %9.1f %8.1f %7.2f %7.2f %8.2f  %s\n", kStationCameraKeys[c],
                          k.posX, k.posY, k.posZ, k.rotX, k.rotZ, k.rotY,
                          (k.tolerance + (k.toleranceNote.empty() ? "" : ": " + k.toleranceNote)).c_str());
        }
        t += row;
    }
    for (const auto& [title, files] : {std::pair{"Pictures", &r.pictures}, std::pair{"Files", &r.files}}) {
        if (files->empty()) continue;
        t += std::string(title) + " (" + std::to_string(files->size()) + "):\n";
        for (const FileEntry& f : *files) t += "  " + f.sha256 + "  " + f.path + "\n";
    }
    line("Output folder", r.outputFolder);
    line("Output set", r.outputSet);
    line("Certificate", r.certificatePath);
    return t;
}

std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

}  // namespace mz::station
