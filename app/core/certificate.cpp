#include "app/core/certificate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <numbers>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "app/core/bowl_view.h"
#include "format/atomic_file.h"
#include "format/picture.h"

namespace mz::core {

namespace {

// Sizes that keep the whole page near half a megabyte yet sharp on paper at about 90 mm wide.
constexpr int kCameraPictureWidth = 640, kCameraPictureHeight = 480;
constexpr int kViewPictureWidth = 640, kViewPictureHeight = 560;
constexpr int kBowlWidth = 800, kBowlHeight = 450;
constexpr int kJpegQuality = 82;

// Unpadded BGR rows, top row first.
struct Rgb {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;

    uint8_t* at(int x, int y) { return pixels.data() + (static_cast<size_t>(y) * width + x) * 3; }
};

// The picture at most maxWidth x maxHeight, each pixel the mean of the source pixels it covers
// (so fine markings thin out evenly instead of flickering in and out).
Rgb scaledDown(std::span<const uint8_t> rows, int width, int height, int stride, int maxWidth, int maxHeight) {
    const double f = std::max({1.0, double(width) / maxWidth, double(height) / maxHeight});
    Rgb out;
    out.width = std::max(1, static_cast<int>(width / f));
    out.height = std::max(1, static_cast<int>(height / f));
    out.pixels.resize(static_cast<size_t>(out.width) * out.height * 3);
    for (int y = 0; y < out.height; ++y) {
        const int y0 = static_cast<int>(y * f), y1 = std::clamp(static_cast<int>((y + 1) * f), y0 + 1, height);
        for (int x = 0; x < out.width; ++x) {
            const int x0 = static_cast<int>(x * f), x1 = std::clamp(static_cast<int>((x + 1) * f), x0 + 1, width);
            unsigned sum[3] = {0, 0, 0};
            for (int sy = y0; sy < y1; ++sy) {
                const uint8_t* p = rows.data() + static_cast<size_t>(sy) * stride + static_cast<size_t>(x0) * 3;
                for (int sx = x0; sx < x1; ++sx, p += 3) {
                    sum[0] += p[0];
                    sum[1] += p[1];
                    sum[2] += p[2];
                }
            }
            const unsigned n = static_cast<unsigned>((y1 - y0) * (x1 - x0));
            uint8_t* d = out.at(x, y);
            for (int k = 0; k < 3; ++k) d[k] = static_cast<uint8_t>((sum[k] + n / 2) / n);
        }
    }
    return out;
}

struct Bgr {
    uint8_t b, g, r;
};
constexpr Bgr kDetectedColour{40, 40, 235};
constexpr Bgr kRefinedColour{60, 220, 40};

void dot(Rgb& p, int x, int y, Bgr c) {
    for (int dy = 0; dy < 2; ++dy) {
        for (int dx = 0; dx < 2; ++dx) {
            const int px = x + dx, py = y + dy;
            if (px < 0 || py < 0 || px >= p.width || py >= p.height) continue;
            uint8_t* d = p.at(px, py);
            d[0] = c.b;
            d[1] = c.g;
            d[2] = c.r;
        }
    }
}

void cross(Rgb& p, double x, double y, int half, Bgr c) {
    for (int i = -half; i <= half; ++i) {
        dot(p, static_cast<int>(std::lround(x)) + i, static_cast<int>(std::lround(y)) + i, c);
        dot(p, static_cast<int>(std::lround(x)) + i, static_cast<int>(std::lround(y)) - i, c);
    }
}

void circle(Rgb& p, double x, double y, double radius, Bgr c) {
    const int steps = 48;
    for (int i = 0; i < steps; ++i) {
        const double a = 2 * std::numbers::pi * i / steps;
        dot(p, static_cast<int>(std::lround(x + radius * std::cos(a))),
            static_cast<int>(std::lround(y + radius * std::sin(a))), c);
    }
}

std::vector<uint8_t> jpeg(const Rgb& p) {
    return format::encodeJpeg(p.width, p.height, p.width * 3, p.pixels, kJpegQuality);
}

// A camera picture with the corners drawn where they are on the scaled picture: the detector's
// (or the operator's) as crosses, the refined ones in use as circles.
// marked: none when the points in use are no triangle corners (surveyed floor points).
std::vector<uint8_t> cameraPicture(const format::Bitmap& image, const std::array<Point2F, kPatternPointCount>* marked,
                                   const refine::RefinementReport* refinement, int camera) {
    if (image.width <= 0 || image.height <= 0 || image.pixels.empty()) return {};
    Rgb p =
        scaledDown(image.pixels, image.width, image.height, image.stride(), kCameraPictureWidth, kCameraPictureHeight);
    const double s = double(p.width) / image.width;
    for (int i = 0; marked && i < kPatternPointCount; ++i) {
        if (refinement) {
            const refine::CornerRefinement& k = refinement->corners[camera][i];
            cross(p, k.given.x * s, k.given.y * s, 5, kDetectedColour);
            if (k.verdict == refine::CornerVerdict::kRefined)
                circle(p, k.refined.x * s, k.refined.y * s, 7, kRefinedColour);
        } else {
            cross(p, (*marked)[i].x * s, (*marked)[i].y * s, 5, kDetectedColour);
        }
    }
    return jpeg(p);
}

std::vector<uint8_t> bowlPicture(Session& session) {
    const CalibrationState& state = session.calibration();
    BowlRequest request;
    request.width = kBowlWidth;
    request.height = kBowlHeight;
    request.shape = defaultBowlShape(bayExtent(state));
    request.eye = presetEye(*findBowlPreset("front-left"), request.shape);
    request.tables = false;
    std::vector<uint8_t> out;
    session.markers().withPictures([&](std::span<const uint8_t> front, std::span<const uint8_t> left,
                                       std::span<const uint8_t> right, std::span<const uint8_t> rear) {
        for (const std::span<const uint8_t> p : {front, left, right, rear}) {
            if (p.empty()) return;
        }
        try {
            const BowlRendering view =
                renderBowl(state, request, {front.data(), rear.data(), left.data(), right.data()});
            out = jpeg(scaledDown(view.picture, view.width, view.height, MZ_ROW_STRIDE24(view.width), kBowlWidth,
                                  kBowlHeight));
        } catch (const std::runtime_error&) {
            // A rig the bowl cannot be built around still gets its certificate, without the view.
        }
    });
    return out;
}

std::string base64(const std::vector<uint8_t>& bytes) {
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const uint32_t n = uint32_t{bytes[i]} << 16 | (i + 1 < bytes.size() ? uint32_t{bytes[i + 1]} << 8 : 0) |
                           (i + 2 < bytes.size() ? uint32_t{bytes[i + 2]} : 0);
        out += kDigits[n >> 18 & 63];
        out += kDigits[n >> 12 & 63];
        out += i + 1 < bytes.size() ? kDigits[n >> 6 & 63] : '=';
        out += i + 2 < bytes.size() ? kDigits[n & 63] : '=';
    }
    return out;
}

std::string number(double v, int decimals) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

// A design value as the profile's author wrote it: 45, 2.5, not 45.00.
std::string shortNumber(double v) {
    char text[48];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

// A field that was not given shows as a dash, so an empty line is never taken for a lost value.
std::string orDash(const std::string& text) { return text.empty() ? "&#8212;" : escapeHtml(text); }

std::string image(const std::vector<uint8_t>& jpegFile, const std::string& alt) {
    return "<img src=\"data:image/jpeg;base64," + base64(jpegFile) + "\" alt=\"" + escapeHtml(alt) + "\">";
}

constexpr const char* kStyle = R"(
@page { size: A4; margin: 10mm; }
* { box-sizing: border-box; }
body { font: 8.5pt/1.3 "DejaVu Sans", Arial, sans-serif; color: #111; margin: 0; }
main { max-width: 190mm; margin: 0 auto; }
h1 { font-size: 15pt; margin: 0 0 1mm; }
h2 { font-size: 10.5pt; margin: 3mm 0 1.5mm; border-bottom: 0.3mm solid #888; }
p { margin: 1mm 0; }
table { border-collapse: collapse; width: 100%; }
th, td { text-align: left; padding: 0.5mm 1.2mm; border-bottom: 0.2mm solid #ccc; vertical-align: top; }
th { font-weight: bold; background: #f0f0f0; }
tr { break-inside: avoid; }
.identity th { background: none; width: 18%; }
.verdict { padding: 1.5mm 3mm; border: 0.6mm solid; margin: 2mm 0; }
.verdict strong { font-size: 11pt; }
.verdict ul { margin: 1mm 0 0; padding-left: 5mm; }
.good { border-color: #2a7a4a; background: #eaf7ef; }
.poor { border-color: #c08000; background: #fdf4e3; }
.bad { border-color: #b02020; background: #fbeaea; }
.grid { display: grid; grid-template-columns: 1fr 1fr; gap: 2mm; }
figure { margin: 0; break-inside: avoid; }
figure img { display: block; width: 100%; height: 50mm; object-fit: contain; }
.views figure img { height: 58mm; }
figcaption { font-size: 7.5pt; color: #444; }
.second { break-before: page; }
.sub { color: #555; font-size: 7pt; white-space: nowrap; }
.out { color: #b02020; font-weight: bold; }
.mono { font-family: "DejaVu Sans Mono", monospace; font-size: 6.5pt; word-break: break-all; }
footer { margin-top: 3mm; font-size: 7pt; color: #555; }
@media screen { body { background: #d8d8d8; } main { max-width: 210mm; background: #fff; padding: 10mm; margin: 4mm auto; } }
)";

std::string identityTable(const Certificate& c) {
    std::string h = "<table class=\"identity\">\n";
    auto row = [&](const char* a, const std::string& va, const char* b, const std::string& vb) {
        h += std::string("<tr><th>") + a + "</th><td>" + va + "</td><th>" + b + "</th><td>" + vb + "</td></tr>\n";
    };
    row("Vehicle", orDash(c.vehicle), "Time (UTC)", orDash(c.time));
    row("Station", orDash(c.station), "Software", orDash(c.softwareVersion));
    row("Operator", orDash(c.operatorName), "Model", orDash(c.model));
    row("Profile", orDash(c.profile), "History record",
        c.recordId ? "#" + std::to_string(*c.recordId) + " <span class=\"sub\">" + escapeHtml(c.history) + "</span>"
                   : std::string("not recorded"));
    h += "<tr><th>Configuration</th><td colspan=\"3\">" + orDash(c.configPath);
    if (!c.configSha256.empty()) h += "<br><span class=\"mono\">SHA-256 " + escapeHtml(c.configSha256) + "</span>";
    h += "</td></tr>\n</table>\n";
    return h;
}

std::string verdictBlock(const Certificate& c) {
    const refine::RefinementReport* r = c.refinement && c.refinement->ran ? &*c.refinement : nullptr;
    std::string cls, head;
    std::vector<std::string> reasons;
    switch (c.outcome) {
    case CertificateOutcome::kSaved:
        cls = r && !r->good ? "poor" : "good";
        head = "Calibration saved";
        if (r) head += std::string(": quality ") + (r->good ? "good" : "poor");
        break;
    case CertificateOutcome::kRefused:
        cls = "bad";
        head = "Calibration refused: no output files were saved";
        break;
    case CertificateOutcome::kFailed:
        cls = "bad";
        head = "Calibration failed: no output files were saved";
        break;
    }
    if (!c.message.empty()) reasons.push_back(c.message);
    if (c.profileOverridden)
        reasons.push_back("Saved although a camera lies outside the station profile (overridden).");
    for (int k = 0; k < kCameraCount; ++k) {
        for (const std::string& line : c.cameras[k].outside) {
            if (c.outcome != CertificateOutcome::kRefused) reasons.push_back(line);
        }
    }
    if (r) reasons.insert(reasons.end(), r->warnings.begin(), r->warnings.end());
    std::string h = "<section class=\"verdict " + cls + "\"><strong>" + head + "</strong>";
    if (!c.profile.empty() && c.outcome == CertificateOutcome::kSaved && !c.profileOverridden)
        h += "<p>Every camera lies within the tolerances of the station profile.</p>";
    if (!reasons.empty()) {
        h += "<ul>";
        for (const std::string& line : reasons) h += "<li>" + escapeHtml(line) + "</li>";
        h += "</ul>";
    }
    return h + "</section>\n";
}

constexpr const char* kCameraTitles[kCameraCount] = {"Front", "Rear", "Left", "Right"};

std::string pictureSections(const Certificate& c) {
    std::string h = "<section class=\"pictures\">\n<h2>Camera pictures</h2>\n<div class=\"grid\">\n";
    bool any = false;
    for (int k = 0; k < kCameraCount; ++k) {
        if (c.pictures.cameras[k].empty()) continue;
        any = true;
        h += "<figure>" + image(c.pictures.cameras[k], std::string(kCameraTitles[k]) + " camera") + "<figcaption>" +
             kCameraTitles[k] + " camera</figcaption></figure>\n";
    }
    h += "</div>\n";
    h += !any ? "<p>No camera pictures were loaded.</p>\n"
         : c.pictures.corners
             ? "<p class=\"sub\">Red cross: the corner as detected (or placed by the operator); green circle: the "
               "refined corner the calibration used.</p>\n"
             : "<p class=\"sub\">Poses from surveyed floor points: no triangle corners.</p>\n";
    h += "</section>\n";
    if (c.pictures.topView.empty() && c.pictures.bowlView.empty()) return h;
    h += "<section class=\"views\">\n<h2>Stitched views</h2>\n<div class=\"grid\">\n";
    if (!c.pictures.topView.empty())
        h += "<figure>" + image(c.pictures.topView, "Top view") + "<figcaption>Top view</figcaption></figure>\n";
    if (!c.pictures.bowlView.empty()) {
        h += "<figure>" + image(c.pictures.bowlView, "Bowl view") +
             "<figcaption>Bowl view from the front left</figcaption></figure>\n";
    }
    return h + "</div>\n</section>\n";
}

std::string poseTable(const Certificate& c) {
    std::string h = "<section class=\"poses\">\n<h2>Camera poses";
    h += c.profile.empty() ? "" : " against the station profile";
    h += "</h2>\n<table>\n<tr><th>Camera</th>";
    for (int f = 0; f < kCertificateFields; ++f)
        h += std::string("<th>") + kCertificateFieldNames[f] + (f < 3 ? " mm" : " deg") + "</th>";
    h += "<th>RMS px</th><th>Profile</th></tr>\n";
    for (int k = 0; k < kCameraCount; ++k) {
        const CertificateCamera& cam = c.cameras[k];
        h += std::string("<tr><td>") + kCameraTitles[k] + "</td>";
        if (!cam.posed) {
            h += "<td colspan=\"" + std::to_string(kCertificateFields + 2) + "\">not solved</td></tr>\n";
            continue;
        }
        for (int f = 0; f < kCertificateFields; ++f) {
            const CertificateField& v = cam.fields[f];
            const int decimals = f < 3 ? 1 : 2;
            h += std::string("<td") + (v.outside ? " class=\"out\"" : "") + ">" + number(v.solved, decimals);
            if (v.sigma >= 0) h += " <span class=\"sub\">&#177;" + number(v.sigma, f < 3 ? 1 : 3) + "</span>";
            if (v.design) {
                h += "<br><span class=\"sub\">design " + shortNumber(*v.design);
                if (v.tolerance) h += " &#177; " + shortNumber(*v.tolerance);
                h += "</span>";
            }
            h += "</td>";
        }
        h += "<td>" + (cam.rmsPx ? number(*cam.rmsPx, 2) : std::string("&#8212;")) + "</td>";
        h += "<td" + std::string(cam.tolerance == "outside" ? " class=\"out\"" : "") + ">" + orDash(cam.tolerance) +
             "</td></tr>\n";
    }
    h += "</table>\n<p class=\"sub\">&#177;: one standard deviation predicted from the corners' scatter (where "
         "known). Position in the vehicle's frame as the configuration gives it.</p>\n</section>\n";
    return h;
}

std::string seamTable(const Certificate& c) {
    if (!c.refinement || !c.refinement->ran) return {};
    const refine::RigFigures& after = c.refinement->rig.after;
    std::string h =
        "<section class=\"seams\">\n<h2>Seams</h2>\n<table>\n<tr><th>Seam</th><th>Cameras</th>"
        "<th>Predicted misalignment (95%), mm</th><th>Worst corner gap, mm</th><th>Within " +
        number(refine::kGoodSeamMm, 0) + " mm</th></tr>\n";
    for (int t = 0; t < refine::kRigTriangles; ++t) {
        const refine::SeamFigures& s = after.seams[t];
        const bool known = s.predictedP95Mm >= 0;
        const bool within = known && s.predictedP95Mm <= refine::kGoodSeamMm;
        h += "<tr><td>T" + std::to_string(t + 1) + "</td><td>" + kCameraTitles[s.cameraA] + " / " +
             kCameraTitles[s.cameraB] + "</td><td>" + (known ? number(s.predictedP95Mm, 1) : "&#8212;") + "</td><td>" +
             number(s.maxGapMm, 1) + "</td><td" + (known && !within ? " class=\"out\"" : "") + ">" +
             (known ? (within ? "yes" : "no") : "&#8212;") + "</td></tr>\n";
    }
    h += "</table>\n";
    if (after.predicted) h += "<p class=\"sub\">Corner scatter " + number(after.pixelSigma, 2) + " px.</p>\n";
    return h + "</section>\n";
}

std::string fileTable(const Certificate& c) {
    std::string h = "<section class=\"files\">\n<h2>Output files</h2>\n";
    if (c.outcome != CertificateOutcome::kSaved || c.files.empty()) {
        return h + "<p>No output files were saved by this run.</p>\n</section>\n";
    }
    h += "<p>" + std::to_string(c.files.size()) + " files in " + orDash(c.outputFolder) + "</p>\n";
    if (!c.setId.empty()) h += "<p>Set identity <span class=\"mono\">" + escapeHtml(c.setId) + "</span></p>\n";
    if (!c.outputSet.empty())
        h += "<p>Contents identity (SHA-256) <span class=\"mono\">" + escapeHtml(c.outputSet) + "</span></p>\n";
    h += "<table>\n<tr><th>File</th><th>Id</th><th>Bytes</th><th>CRC-32</th><th>SHA-256</th></tr>\n";
    for (const CertificateFile& f : c.files) {
        h += "<tr><td class=\"mono\">" + escapeHtml(f.path) + "</td><td>" +
             (f.identifier ? std::to_string(*f.identifier) : std::string("&#8212;")) + "</td><td>" +
             (f.bytes >= 0 ? std::to_string(f.bytes) : std::string("&#8212;")) + "</td><td class=\"mono\">" +
             orDash(f.crc32) + "</td><td class=\"mono\">" + orDash(f.sha256) + "</td></tr>\n";
    }
    return h + "</table>\n</section>\n";
}

}  // namespace

std::string escapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        switch (ch) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += ch;
        }
    }
    return out;
}

Certificate certificateOfSession(Session& session) {
    Certificate c;
    CalibrationState& state = session.calibration();
    c.model = state.modelName;
    const refine::RefinementReport& report = session.preview().rig().report();
    const bool refined = session.viewApplied() && report.ran && !session.surveyApplied();
    if (refined) c.refinement = report;
    for (int k = 0; k < kCameraCount; ++k) {
        CertificateCamera& cam = c.cameras[k];
        const CameraParam& p = state.cameras[k];
        cam.posed = session.viewApplied();
        const double solved[kCertificateFields] = {p.posX, p.posY, p.posZ, p.rotX, p.rotZ, p.rotY};
        for (int f = 0; f < kCertificateFields; ++f) cam.fields[f].solved = solved[f];
        if (refined) {
            const refine::CameraFigures& fig = report.rig.after.cameras[k];
            cam.rmsPx = fig.rmsPx;
            cam.fields[2].sigma = fig.heightSigmaMm;
            cam.fields[3].sigma = fig.tiltSigmaDeg;
            cam.fields[4].sigma = fig.rollSigmaDeg;
            cam.fields[5].sigma = fig.headingSigmaDeg;
        } else if (session.surveyApplied()) {
            cam.rmsPx = session.surveyPoses()[k].rmsPx;
        }
        if (session.imagesLoaded()) {
            c.pictures.corners = !session.surveyApplied();
            c.pictures.cameras[k] = cameraPicture(session.markers().imageView(k).image,
                                                  c.pictures.corners ? &state.imagePoints[k] : nullptr,
                                                  refined && report.enabled ? &report : nullptr, k);
        }
    }
    if (session.viewApplied() && session.preview().views().hasEngine()) {
        int width = 0, height = 0;
        const std::span<const uint8_t> top = session.preview().views().output(width, height);
        if (width > 0 && height > 0 && !top.empty()) {
            c.pictures.topView =
                jpeg(scaledDown(top, width, height, MZ_ROW_STRIDE24(width), kViewPictureWidth, kViewPictureHeight));
        }
        c.pictures.bowlView = bowlPicture(session);
    }
    return c;
}

void addSavedFiles(Certificate& c, const SaveReport& saved, const std::filesystem::path& folder) {
    std::map<std::string, std::pair<int64_t, std::string>> listed;  // path: bytes, CRC-32
    std::ifstream in(folder / format::manifestName(kCalibrationSet));
    const nlohmann::json manifest = nlohmann::json::parse(in, nullptr, false);
    if (manifest.is_object()) {
        c.setId = manifest.value("id", "");
        if (manifest.contains("files") && manifest["files"].is_array()) {
            for (const nlohmann::json& f : manifest["files"]) {
                if (!f.is_object()) continue;
                listed[f.value("path", "")] = {f.value("bytes", int64_t{-1}), f.value("crc32", "")};
            }
        }
    }
    c.files.clear();
    for (const WrittenFile& w : saved.written) {
        CertificateFile f;
        f.path = w.path.generic_string();
        f.identifier = w.identifier;
        if (const auto found = listed.find(f.path); found != listed.end()) {
            f.bytes = found->second.first;
            f.crc32 = found->second.second;
        }
        c.files.push_back(f);
    }
}

std::string certificateHtml(const Certificate& c) {
    std::string h = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    h += "<title>Calibration certificate" + (c.vehicle.empty() ? std::string() : " " + escapeHtml(c.vehicle)) +
         "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n<main>\n";
    h += "<header><h1>Camera calibration certificate</h1><p>Surround-view cameras of vehicle <strong>" +
         orDash(c.vehicle) + "</strong></p></header>\n";
    h += identityTable(c);
    h += verdictBlock(c);
    h += pictureSections(c);
    h += "<div class=\"second\">\n";
    h += poseTable(c);
    h += seamTable(c);
    h += fileTable(c);
    h += "</div>\n</main>\n<footer>Calibration Tool " + escapeHtml(c.softwareVersion) + ", " + escapeHtml(c.time) +
         "</footer>\n</body>\n</html>\n";
    return h;
}

void writeCertificate(const std::filesystem::path& path, const Certificate& certificate) {
    format::writeFileAtomically(path, certificateHtml(certificate));
}

}  // namespace mz::core
