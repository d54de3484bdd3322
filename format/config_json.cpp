#include "format/config_json.h"

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "format/picture.h"
#include "format/stitching_map.h"

namespace mz::format {

namespace {

// Ordered objects keep the file's field order; single-precision numbers print in their shortest
// form ("0.7", not "0.699999988079071"), which reads back to the same bits.
using Json =
    nlohmann::basic_json<nlohmann::ordered_map, std::vector, std::string, bool, std::int64_t, std::uint64_t, float>;
// Read in double precision, so that a number too big for a float is an out-of-range field, not a
// fault of the text.
using InJson = nlohmann::ordered_json;

constexpr const char* kCameraNames[4] = {"front", "rear", "left", "right"};
// The lens fields: the forward polynomial k1..k5 and the inverse one c0..c8.
constexpr const char* kForwardNames[5] = {"k1", "k2", "k3", "k4", "k5"};
constexpr const char* kInverseNames[9] = {"c0", "c1", "c2", "c3", "c4", "c5", "c6", "c7", "c8"};
constexpr int32_t kMaxViewSide = 4096;

// One JSON object being read, with its pointer for the messages.
class Fields {
public:
    Fields(const InJson& object, std::string pointer) : object_(object), pointer_(std::move(pointer)) {
        if (!object_.is_object()) throw ConfigJsonError(pointer_, "must be an object");
    }

    const std::string& pointer() const { return pointer_; }
    std::string at(const std::string& key) const { return pointer_ + "/" + key; }

    const InJson& value(const std::string& key) const {
        const auto it = object_.find(key);
        if (it == object_.end()) throw ConfigJsonError(at(key), "missing");
        return *it;
    }
    bool has(const std::string& key) const { return object_.contains(key); }

    float number(const std::string& key) const { return numberOf(value(key), at(key)); }

    int64_t integer(const std::string& key, int64_t low, int64_t high) const {
        return integerOf(value(key), at(key), low, high);
    }

    std::string text(const std::string& key, size_t longest) const {
        const InJson& v = value(key);
        if (!v.is_string()) throw ConfigJsonError(at(key), "must be a text");
        const std::string s = v.get<std::string>();
        if (s.size() > longest) {
            throw ConfigJsonError(at(key), "\"" + s + "\" is " + std::to_string(s.size()) +
                                               " characters long; the field holds at most " + std::to_string(longest));
        }
        for (char c : s) {
            if (c < 0x20 || c > 0x7E) throw ConfigJsonError(at(key), "only printable ASCII characters fit the field");
        }
        return s;
    }

    const InJson& array(const std::string& key, size_t least, size_t most) const {
        const InJson& v = value(key);
        if (!v.is_array()) throw ConfigJsonError(at(key), "must be an array");
        if (v.size() < least || v.size() > most) {
            throw ConfigJsonError(at(key), least == most ? "must hold " + std::to_string(least) + " entries"
                                                         : "must hold " + std::to_string(least) + " to " +
                                                               std::to_string(most) + " entries");
        }
        return v;
    }

    static float numberOf(const InJson& v, const std::string& pointer) {
        if (!v.is_number()) throw ConfigJsonError(pointer, "must be a number");
        const double d = v.get<double>();
        if (!std::isfinite(d) || std::fabs(d) > FLT_MAX) {
            throw ConfigJsonError(pointer, "is outside the range of a single-precision number");
        }
        return static_cast<float>(d);
    }

    static int64_t integerOf(const InJson& v, const std::string& pointer, int64_t low, int64_t high) {
        if (!v.is_number_integer()) throw ConfigJsonError(pointer, "must be a whole number");
        const bool negative = v.is_number_integer() && !v.is_number_unsigned() && v.get<int64_t>() < 0;
        if (!negative && v.get<uint64_t>() > static_cast<uint64_t>(high)) {
            throw ConfigJsonError(pointer, "must be at most " + std::to_string(high));
        }
        const int64_t n = negative ? v.get<int64_t>() : static_cast<int64_t>(v.get<uint64_t>());
        if (n < low || n > high) {
            throw ConfigJsonError(pointer, "must be " + std::to_string(low) + " to " + std::to_string(high));
        }
        return n;
    }

private:
    const InJson& object_;
    std::string pointer_;
};

constexpr int64_t kI32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t kI32Max = std::numeric_limits<int32_t>::max();
constexpr int64_t kU32Max = std::numeric_limits<uint32_t>::max();

int32_t i32(const Fields& f, const std::string& key) { return static_cast<int32_t>(f.integer(key, kI32Min, kI32Max)); }

ConfigCamera readCamera(const Fields& f) {
    ConfigCamera cam;
    const std::string name = f.text("camera", 5);
    int index = -1;
    for (int i = 0; i < 4; ++i) {
        if (name == kCameraNames[i]) index = i;
    }
    if (index < 0) throw ConfigJsonError(f.at("camera"), "must be \"front\", \"rear\", \"left\" or \"right\"");
    cam.type = static_cast<uint8_t>(kRecordFrontCamera + index);
    cam.f = f.number("f");
    cam.fx = f.number("fx");
    cam.fy = f.number("fy");
    cam.cx = f.number("cx");
    cam.cy = f.number("cy");
    for (int i = 0; i < 5; ++i) cam.k[i] = f.number(kForwardNames[i]);
    for (int i = 0; i < 9; ++i) cam.c[i] = f.number(kInverseNames[i]);
    cam.width = static_cast<int32_t>(f.integer("width", 1, kMaxCameraSide));
    cam.height = static_cast<int32_t>(f.integer("height", 1, kMaxCameraSide));
    cam.extra1 = f.has("extra1") ? f.number("extra1") : 0.0f;
    cam.extra2 = f.has("extra2") ? f.number("extra2") : 0.0f;
    return cam;
}

ConfigMultiview readMultiview(const Fields& f) {
    ConfigMultiview mv;
    mv.type = static_cast<uint8_t>(kRecordMultiview0 + f.integer("slot", 0, 2));
    mv.name = f.text("name", kViewNameWritten);
    mv.flags = static_cast<uint32_t>(f.integer("flags", 0, kU32Max));
    mv.width = static_cast<int32_t>(f.integer("width", 1, kMaxViewSide));
    mv.height = static_cast<int32_t>(f.integer("height", 1, kMaxViewSide));
    mv.centreX = f.number("centreX");
    mv.centreY = f.number("centreY");
    mv.mmPerPixel = f.number("mmPerPixel");
    if (!(mv.mmPerPixel > 0)) throw ConfigJsonError(f.at("mmPerPixel"), "must be above 0");
    mv.originX = f.number("originX");
    mv.originY = f.number("originY");
    mv.vehicleWidth = static_cast<int32_t>(f.integer("vehicleWidth", 0, kI32Max));
    mv.vehicleLength = static_cast<int32_t>(f.integer("vehicleLength", 0, kI32Max));
    mv.markerLength = f.number("markerLength");
    // Stored as whole millimetres; the calibration cannot place triangles without a side.
    if (!(mv.markerLength >= 1 && mv.markerLength <= 100000))
        throw ConfigJsonError(f.at("markerLength"), "must be 1 to 100000 (mm, the side of the floor triangles)");
    const InJson& ids = f.array("lutIds", 4, 4);
    for (int i = 0; i < 4; ++i) {
        mv.lutIds[i] =
            static_cast<int32_t>(Fields::integerOf(ids[i], f.at("lutIds") + "/" + std::to_string(i), kI32Min, kI32Max));
    }
    return mv;
}

ConfigSingleview readSingleview(const Fields& f) {
    ConfigSingleview sv;
    sv.type = static_cast<uint8_t>(f.integer("type", kRecordSingleviewFirst, kRecordSingleviewLast));
    sv.viewIndex = static_cast<int32_t>(f.integer("viewIndex", 0, 9));
    sv.fileName = f.text("fileName", kLutFileNameField - 1);
    sv.flags = static_cast<uint32_t>(f.integer("flags", 0, kU32Max));
    sv.wideAngle = f.number("wideAngle");
    sv.tiltX = f.number("tiltX");
    sv.tiltY = f.number("tiltY");
    sv.rotation = f.number("rotation");
    sv.offsetX = f.number("offsetX");
    sv.offsetY = f.number("offsetY");
    sv.scaleX = f.number("scaleX");
    sv.scaleY = f.number("scaleY");
    if (f.has("unused")) {
        const InJson& u = f.array("unused", 4, 4);
        for (int i = 0; i < 4; ++i) {
            sv.unused[i] =
                static_cast<uint8_t>(Fields::integerOf(u[i], f.at("unused") + "/" + std::to_string(i), 0, 255));
        }
    }
    sv.overlayScale = i32(f, "overlayScale");
    sv.width = static_cast<int32_t>(f.integer("width", 1, kMaxViewSide));
    sv.height = static_cast<int32_t>(f.integer("height", 1, kMaxViewSide));
    sv.centreX = i32(f, "centreX");
    sv.centreY = i32(f, "centreY");
    sv.lutId = i32(f, "lutId");
    return sv;
}

// The drawing parameters of an automatic car image; each is optional.
StitchingStyle readStitchingStyle(const Fields& f) {
    StitchingStyle style;
    if (f.has("seamAngle")) style.seamAngle = f.number("seamAngle");
    if (f.has("blendWidth")) style.blendWidth = f.number("blendWidth");
    if (f.has("vehicleColour")) {
        const InJson& rgb = f.array("vehicleColour", 3, 3);
        for (int i = 0; i < 3; ++i) {
            style.vehicleColour[i] = static_cast<uint8_t>(
                Fields::integerOf(rgb[i], f.at("vehicleColour") + "/" + std::to_string(i), 1, 254));
        }
    }
    if (style.blendWidth < 0) throw ConfigJsonError(f.at("blendWidth"), "must be 0 or more (degrees)");
    // What is left is the wedge reaching past the corner's quarter turn: the seam is the likelier slip.
    if (const std::string problem = stitchingStyleProblem(style); !problem.empty())
        throw ConfigJsonError(f.at(f.has("seamAngle") ? "seamAngle" : "blendWidth"), problem);
    return style;
}

ConfigCarImage readCarImage(const Fields& f, const std::vector<ConfigMultiview>& views,
                            const std::filesystem::path& base) {
    ConfigCarImage car;
    const int slot = static_cast<int>(f.integer("slot", 0, 2));
    car.type = static_cast<uint8_t>(kRecordCarImage0 + slot);
    const ConfigMultiview* view = nullptr;
    for (const ConfigMultiview& mv : views) {
        if (mv.type == kRecordMultiview0 + slot) view = &mv;
    }
    if (!view) throw ConfigJsonError(f.at("slot"), "no view of /multiviews has slot " + std::to_string(slot));
    if (f.has("carImage")) {
        if (f.has("file"))
            throw ConfigJsonError(f.at("file"), "and \"carImage\" both given: name a picture or draw one");
        const InJson& how = f.value("carImage");
        if (!how.is_string() || how.get<std::string>() != "auto")
            throw ConfigJsonError(f.at("carImage"), "must be \"auto\" (or give \"file\" instead)");
        car.pixels = drawStitchingMap(stitchingLayout(*view), readStitchingStyle(f)).pixels;
        return car;
    }
    const InJson& file = f.value("file");
    if (file.is_null()) {
        throw ConfigJsonError(f.at("file"),
                              "is null: config show --json writes the car pictures only with --out (beside the "
                              "JSON); name the view's BMP or PNG picture here");
    }
    if (!file.is_string() || file.get<std::string>().empty()) {
        throw ConfigJsonError(f.at("file"), "must name a BMP or PNG picture of the view's size");
    }
    const std::filesystem::path path = base / file.get<std::string>();
    PictureRead read = readPicture(path);
    if (!read.picture) throw ConfigJsonError(f.at("file"), path.string() + ": " + read.problem);
    if (read.picture->bitsPerPixel != 24) {
        throw ConfigJsonError(f.at("file"), path.string() + ": the picture is not in colour (24 bits a pixel)");
    }
    if (read.picture->width != view->width || read.picture->height != view->height) {
        throw ConfigJsonError(f.at("file"), path.string() + ": the picture is " + std::to_string(read.picture->width) +
                                                " x " + std::to_string(read.picture->height) + ", its view " +
                                                view->name + " is " + std::to_string(view->width) + " x " +
                                                std::to_string(view->height));
    }
    car.pixels = std::move(read.picture->pixels);
    return car;
}

// A key given twice in one object would leave only its last value, silently; the parser's
// callback sees every key with the path to it, so the second one is named.
class DuplicateKeys {
public:
    bool operator()(int /*depth*/, InJson::parse_event_t event, InJson& parsed) {
        using Event = InJson::parse_event_t;
        if (event == Event::object_start || event == Event::array_start || event == Event::value) {
            if (!frames_.empty() && frames_.back().array) ++frames_.back().index;
        }
        switch (event) {
        case Event::object_start: frames_.push_back({}); break;
        case Event::array_start:
            frames_.emplace_back();
            frames_.back().array = true;
            break;
        case Event::object_end:
        case Event::array_end: frames_.pop_back(); break;
        case Event::key: {
            Frame& top = frames_.back();
            top.key = parsed.get<std::string>();
            if (!top.keys.insert(top.key).second && pointer_.empty()) pointer_ = path();
            break;
        }
        case Event::value: break;
        }
        return true;
    }
    // The pointer of the first key given twice, or empty.
    const std::string& pointer() const { return pointer_; }

private:
    struct Frame {
        bool array = false;
        long index = -1;
        std::string key;
        std::set<std::string> keys;
    };
    std::string path() const {
        std::string out;
        for (const Frame& f : frames_) {
            if (f.array) {
                out += "/" + std::to_string(f.index);
                continue;
            }
            out += '/';
            for (char c : f.key) out += c == '~' ? "~0" : c == '/' ? "~1" : std::string(1, c);
        }
        return out;
    }
    std::vector<Frame> frames_;
    std::string pointer_;
};

// NaN and the infinities are not JSON, and the parser's "invalid literal" would not say so.
std::string nonFiniteLiteral(const std::string& text, size_t failedAt) {
    size_t start = std::min(failedAt, text.size());
    while (start > 0 && (std::isalpha(static_cast<unsigned char>(text[start - 1])) || text[start - 1] == '-' ||
                         text[start - 1] == '+'))
        --start;
    size_t end = start;
    while (end < text.size() &&
           (std::isalpha(static_cast<unsigned char>(text[end])) || text[end] == '-' || text[end] == '+'))
        ++end;
    std::string word = text.substr(start, end - start);
    std::string lower;
    for (char c : word)
        if (c != '-' && c != '+') lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower != "nan" && lower != "inf" && lower != "infinity") return {};
    const long line = 1 + std::count(text.begin(), text.begin() + static_cast<long>(start), '\n');
    return "\"" + word + "\" on line " + std::to_string(line) +
           " is not a finite number; JSON has no NaN or infinity, and every field needs a finite value";
}

std::string number(float v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(v));
    return text;
}

}  // namespace

namespace {

Json configTree(const ConfigFile& config, const std::vector<std::string>& carImageFiles) {
    Json root = Json::object();
    root["header"] = {{"tag", Json(std::vector<int>(config.headerTag.begin(), config.headerTag.end()))},
                      {"model", config.model},
                      {"parkingGuideLevel", config.parkingGuideLevel}};
    Json cameras = Json::array();
    for (const ConfigCamera& cam : config.cameras) {
        Json c = Json::object();
        c["camera"] = kCameraNames[(cam.type - kRecordFrontCamera) & 3];
        c["f"] = cam.f;
        c["fx"] = cam.fx;
        c["fy"] = cam.fy;
        c["cx"] = cam.cx;
        c["cy"] = cam.cy;
        for (int i = 0; i < 5; ++i) c[kForwardNames[i]] = cam.k[i];
        for (int i = 0; i < 9; ++i) c[kInverseNames[i]] = cam.c[i];
        c["width"] = cam.width;
        c["height"] = cam.height;
        c["extra1"] = cam.extra1;
        c["extra2"] = cam.extra2;
        cameras.push_back(std::move(c));
    }
    root["cameras"] = std::move(cameras);
    Json views = Json::array();
    for (const ConfigMultiview& mv : config.multiviews) {
        Json v = Json::object();
        v["slot"] = mv.type - kRecordMultiview0;
        v["name"] = mv.name;
        v["flags"] = mv.flags;
        v["width"] = mv.width;
        v["height"] = mv.height;
        v["centreX"] = mv.centreX;
        v["centreY"] = mv.centreY;
        v["mmPerPixel"] = mv.mmPerPixel;
        v["originX"] = mv.originX;
        v["originY"] = mv.originY;
        v["vehicleWidth"] = mv.vehicleWidth;
        v["vehicleLength"] = mv.vehicleLength;
        v["markerLength"] = mv.markerLength;
        v["lutIds"] = Json(std::vector<int32_t>(mv.lutIds.begin(), mv.lutIds.end()));
        views.push_back(std::move(v));
    }
    root["multiviews"] = std::move(views);
    Json cars = Json::array();
    for (size_t i = 0; i < config.carImages.size(); ++i) {
        Json c = Json::object();
        c["slot"] = config.carImages[i].type - kRecordCarImage0;
        if (i < carImageFiles.size() && !carImageFiles[i].empty()) {
            c["file"] = carImageFiles[i];
        } else {
            c["file"] = nullptr;
        }
        cars.push_back(std::move(c));
    }
    root["carImages"] = std::move(cars);
    root["singleviewHeader"] =
        Json(std::vector<int32_t>(config.singleviewHeaderWords.begin(), config.singleviewHeaderWords.end()));
    Json singles = Json::array();
    for (const ConfigSingleview& sv : config.singleviews) {
        Json s = Json::object();
        s["type"] = sv.type;
        s["viewIndex"] = sv.viewIndex;
        s["fileName"] = sv.fileName;
        s["flags"] = sv.flags;
        s["wideAngle"] = sv.wideAngle;
        s["tiltX"] = sv.tiltX;
        s["tiltY"] = sv.tiltY;
        s["rotation"] = sv.rotation;
        s["offsetX"] = sv.offsetX;
        s["offsetY"] = sv.offsetY;
        s["scaleX"] = sv.scaleX;
        s["scaleY"] = sv.scaleY;
        s["unused"] = Json(std::vector<int>(sv.unused.begin(), sv.unused.end()));
        s["overlayScale"] = sv.overlayScale;
        s["width"] = sv.width;
        s["height"] = sv.height;
        s["centreX"] = sv.centreX;
        s["centreY"] = sv.centreY;
        s["lutId"] = sv.lutId;
        singles.push_back(std::move(s));
    }
    root["singleviews"] = std::move(singles);
    return root;
}

}  // namespace

std::string configToJson(const ConfigFile& config, const std::vector<std::string>& carImageFiles) {
    return configTree(config, carImageFiles).dump(2) + "\n";
}

std::string configToJsonWithAutoMaps(const ConfigFile& config, const StitchingStyle& style,
                                     const std::vector<std::string>& about) {
    const Json tree = configTree(config, {});
    Json root = Json::object();
    root["about"] = about;
    for (const auto& [key, value] : tree.items()) root[key] = value;
    Json cars = Json::array();
    for (const ConfigMultiview& mv : config.multiviews) {
        cars.push_back({{"slot", mv.type - kRecordMultiview0},
                        {"carImage", "auto"},
                        {"seamAngle", static_cast<float>(style.seamAngle)},
                        {"blendWidth", static_cast<float>(style.blendWidth)},
                        {"vehicleColour", std::vector<int>(style.vehicleColour.begin(), style.vehicleColour.end())}});
    }
    root["carImages"] = std::move(cars);
    return root.dump(2) + "\n";
}

ConfigFile configFromJson(const std::string& text, const std::filesystem::path& baseFolder) {
    InJson root;
    DuplicateKeys duplicates;
    try {
        root = InJson::parse(text, std::ref(duplicates));
    } catch (const InJson::parse_error& e) {
        if (const std::string literal = nonFiniteLiteral(text, e.byte > 0 ? e.byte - 1 : 0); !literal.empty())
            throw ConfigJsonError("", literal);
        throw ConfigJsonError("", std::string("invalid JSON: ") + e.what());
    } catch (const InJson::exception& e) {  // a number beyond a double
        throw ConfigJsonError("", std::string("invalid JSON: ") + e.what());
    }
    if (!duplicates.pointer().empty())
        throw ConfigJsonError(duplicates.pointer(), "is given twice in one object (only one value can stand)");
    const Fields top(root, "");
    ConfigFile config;

    const Fields header(top.value("header"), "/header");
    const InJson& tag = header.has("tag") ? header.array("tag", 4, 4) : InJson(std::vector<int>{0, 0, 0, 0});
    for (int i = 0; i < 4; ++i) {
        config.headerTag[i] =
            static_cast<uint8_t>(Fields::integerOf(tag[i], header.at("tag") + "/" + std::to_string(i), 0, 255));
    }
    config.model = header.text("model", kModelNameField - 1);
    config.parkingGuideLevel = static_cast<uint8_t>(header.integer("parkingGuideLevel", 0, 255));

    const InJson& cameras = top.array("cameras", 4, 4);
    bool seen[4] = {};
    for (size_t i = 0; i < cameras.size(); ++i) {
        const Fields f(cameras[i], "/cameras/" + std::to_string(i));
        ConfigCamera cam = readCamera(f);
        if (seen[cam.type - kRecordFrontCamera]) throw ConfigJsonError(f.at("camera"), "names a camera a second time");
        seen[cam.type - kRecordFrontCamera] = true;
        config.cameras.push_back(cam);
    }

    const InJson& views = top.array("multiviews", 1, 3);
    for (size_t i = 0; i < views.size(); ++i) {
        const Fields f(views[i], "/multiviews/" + std::to_string(i));
        ConfigMultiview mv = readMultiview(f);
        for (const ConfigMultiview& other : config.multiviews) {
            if (other.type == mv.type) throw ConfigJsonError(f.at("slot"), "names a slot a second time");
        }
        config.multiviews.push_back(std::move(mv));
    }

    const InJson& cars = top.array("carImages", views.size(), views.size());
    for (size_t i = 0; i < cars.size(); ++i) {
        const Fields f(cars[i], "/carImages/" + std::to_string(i));
        ConfigCarImage car = readCarImage(f, config.multiviews, baseFolder);
        for (const ConfigCarImage& other : config.carImages) {
            if (other.type == car.type) throw ConfigJsonError(f.at("slot"), "names a slot a second time");
        }
        config.carImages.push_back(std::move(car));
    }

    if (top.has("singleviewHeader")) {
        const InJson& words = top.array("singleviewHeader", 3, 3);
        for (int i = 0; i < 3; ++i) {
            config.singleviewHeaderWords[i] = static_cast<int32_t>(
                Fields::integerOf(words[i], "/singleviewHeader/" + std::to_string(i), kI32Min, kI32Max));
        }
    }
    if (top.has("singleviews")) {
        const InJson& singles = top.array("singleviews", 0, 10);
        for (size_t i = 0; i < singles.size(); ++i) {
            config.singleviews.push_back(readSingleview(Fields(singles[i], "/singleviews/" + std::to_string(i))));
        }
    }
    return config;
}

std::string configToText(const ConfigFile& config) {
    std::ostringstream out;
    out << "Model \"" << config.model << "\", parking-guide level " << int{config.parkingGuideLevel} << ", header tag";
    for (uint8_t b : config.headerTag) out << ' ' << int{b};
    out << "\n";
    for (const ConfigCamera& cam : config.cameras) {
        out << "\nCamera " << kCameraNames[(cam.type - kRecordFrontCamera) & 3] << " (record " << int{cam.type}
            << "): " << cam.width << " x " << cam.height << "\n";
        out << "  f " << number(cam.f) << "  fx " << number(cam.fx) << "  fy " << number(cam.fy) << "  cx "
            << number(cam.cx) << "  cy " << number(cam.cy) << "\n  k1..k5";
        for (float v : cam.k) out << ' ' << number(v);
        out << "\n  c0..c8";
        for (float v : cam.c) out << ' ' << number(v);
        out << "\n  extra1 " << number(cam.extra1) << "  extra2 " << number(cam.extra2) << "\n";
    }
    for (const ConfigMultiview& mv : config.multiviews) {
        char flags[16];
        std::snprintf(flags, sizeof flags, "0x%04X", mv.flags);
        out << "\nStitched view " << mv.type - kRecordMultiview0 << " \"" << mv.name << "\" (record " << int{mv.type}
            << "): " << mv.width << " x " << mv.height << ", flags " << flags
            << ((mv.flags & 0x8000u) ? " (full top view)" : "") << "\n";
        out << "  centre " << number(mv.centreX) << ", " << number(mv.centreY) << " px, " << number(mv.mmPerPixel)
            << " mm a pixel, origin " << number(mv.originX) << ", " << number(mv.originY) << "\n";
        out << "  vehicle " << mv.vehicleWidth << " x " << mv.vehicleLength << " mm, marker " << number(mv.markerLength)
            << " mm, table ids";
        for (int32_t id : mv.lutIds) out << ' ' << id;
        out << "\n";
    }
    for (const ConfigCarImage& car : config.carImages) {
        out << "\nCar image of view " << car.type - kRecordCarImage0 << " (record " << int{car.type}
            << "): " << car.pixels.size() << " bytes\n";
    }
    out << "\nSingle views: " << config.singleviews.size() << ", section words " << config.singleviewHeaderWords[0]
        << ' ' << config.singleviewHeaderWords[1] << ' ' << config.singleviewHeaderWords[2] << "\n";
    for (const ConfigSingleview& sv : config.singleviews) {
        char flags[16];
        std::snprintf(flags, sizeof flags, "0x%04X", sv.flags);
        out << "  record " << int{sv.type} << ": view " << sv.viewIndex << " \"" << sv.fileName << "\" " << sv.width
            << " x " << sv.height << ", flags " << flags << ", table id " << sv.lutId << "\n";
        out << "    wide angle " << number(sv.wideAngle) << ", tilt " << number(sv.tiltX) << ", " << number(sv.tiltY)
            << ", rotation " << number(sv.rotation) << ", offset " << number(sv.offsetX) << ", " << number(sv.offsetY)
            << ", scale " << number(sv.scaleX) << ", " << number(sv.scaleY) << ", overlay scale " << sv.overlayScale
            << ", centre " << sv.centreX << ", " << sv.centreY << "\n";
    }
    return out.str();
}

}  // namespace mz::format
