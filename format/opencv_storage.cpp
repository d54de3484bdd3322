#include "format/opencv_storage.h"

#include <sstream>
#include <stdexcept>

#include <tinyxml2.h>
#include <yaml-cpp/yaml.h>

#include "format/file_read.h"

namespace mz::format {

namespace {

std::vector<double> numbers(const YAML::Node& seq, const std::string& name) {
    std::vector<double> out;
    for (const YAML::Node& v : seq) {
        if (!v.IsScalar()) throw std::runtime_error(name + ": data holds something that is not a number");
        try {
            out.push_back(v.as<double>());
        } catch (const YAML::Exception&) {
            throw std::runtime_error(name + ": \"" + v.Scalar() + "\" is not a number");
        }
    }
    return out;
}

}  // namespace

namespace {

bool looksLikeXml(const std::string& text) {
    const size_t start = text.find_first_not_of(" \t\r\n");
    return start != std::string::npos && text[start] == '<';
}

// Numbers apart by blanks, as OpenCV writes them in XML; false when anything else is there.
bool blankSeparatedNumbers(const char* text, std::vector<double>& out) {
    std::istringstream in(text ? text : "");
    in.imbue(std::locale::classic());
    std::string word;
    while (in >> word) {
        size_t used = 0;
        try {
            out.push_back(std::stod(word, &used));
        } catch (const std::exception&) {
            return false;
        }
        if (used != word.size()) return false;
    }
    return true;
}

}  // namespace

std::map<std::string, StoredMatrix> parseOpencvXml(const std::string& text) {
    tinyxml2::XMLDocument doc;
    if (doc.Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS) {
        throw std::runtime_error(std::string("not readable XML: ") + (doc.ErrorStr() ? doc.ErrorStr() : "?"));
    }
    const tinyxml2::XMLElement* root = doc.FirstChildElement("opencv_storage");
    if (!root) throw std::runtime_error("not an OpenCV file storage (no <opencv_storage>)");
    std::map<std::string, StoredMatrix> out;
    for (const tinyxml2::XMLElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
        const std::string name = e->Name();
        StoredMatrix m;
        if (const tinyxml2::XMLElement* data = e->FirstChildElement("data")) {
            const tinyxml2::XMLElement* rows = e->FirstChildElement("rows");
            const tinyxml2::XMLElement* cols = e->FirstChildElement("cols");
            if (!rows || !cols || rows->QueryIntText(&m.rows) != tinyxml2::XML_SUCCESS ||
                cols->QueryIntText(&m.cols) != tinyxml2::XML_SUCCESS) {
                throw std::runtime_error(name + ": a matrix without whole numbers of rows and cols");
            }
            if (!blankSeparatedNumbers(data->GetText(), m.data)) {
                throw std::runtime_error(name + ": data holds something that is not a number");
            }
            if (m.rows < 0 || m.cols < 0 || static_cast<size_t>(m.rows) * m.cols != m.data.size()) {
                throw std::runtime_error(name + ": " + std::to_string(m.rows) + " x " + std::to_string(m.cols) +
                                         " matrix with " + std::to_string(m.data.size()) + " numbers");
            }
        } else if (!e->FirstChildElement() && blankSeparatedNumbers(e->GetText(), m.data) && !m.data.empty()) {
            m.rows = static_cast<int>(m.data.size());
            m.cols = 1;
        } else {
            continue;  // a text entry or a nested map
        }
        out[name] = std::move(m);
    }
    return out;
}

std::map<std::string, StoredMatrix> parseOpencvYaml(const std::string& original) {
    // OpenCV's first line "%YAML:1.0" is not a directive YAML parsers take; it becomes a comment
    // so that line numbers in messages stay right.
    std::string text = original;
    if (text.rfind("%YAML", 0) == 0) text[0] = '#';
    YAML::Node root;
    try {
        root = YAML::Load(text);
    } catch (const YAML::Exception& e) {
        throw std::runtime_error(std::string("not readable YAML: ") + e.what());
    }
    if (!root.IsMap()) throw std::runtime_error("not an OpenCV file storage (no top-level map)");
    std::map<std::string, StoredMatrix> out;
    for (const auto& entry : root) {
        const std::string name = entry.first.as<std::string>();
        const YAML::Node& v = entry.second;
        StoredMatrix m;
        if (v.IsMap() && v["data"]) {
            if (!v["rows"] || !v["cols"]) throw std::runtime_error(name + ": a matrix without rows or cols");
            try {
                m.rows = v["rows"].as<int>();
                m.cols = v["cols"].as<int>();
            } catch (const YAML::Exception&) {
                throw std::runtime_error(name + ": rows and cols must be whole numbers");
            }
            if (!v["data"].IsSequence()) throw std::runtime_error(name + ": data must be a list");
            m.data = numbers(v["data"], name);
            if (m.rows < 0 || m.cols < 0 || static_cast<size_t>(m.rows) * m.cols != m.data.size()) {
                throw std::runtime_error(name + ": " + std::to_string(m.rows) + " x " + std::to_string(m.cols) +
                                         " matrix with " + std::to_string(m.data.size()) + " numbers");
            }
        } else if (v.IsSequence()) {
            m.data = numbers(v, name);
            m.rows = static_cast<int>(m.data.size());
            m.cols = 1;
        } else if (v.IsScalar()) {
            try {
                m.data = {v.as<double>()};
            } catch (const YAML::Exception&) {
                continue;  // a text entry
            }
            m.rows = m.cols = 1;
        } else {
            continue;
        }
        out[name] = std::move(m);
    }
    return out;
}

std::map<std::string, StoredMatrix> readOpencvStorage(const std::filesystem::path& path) {
    const std::string text = readTextFile(path);
    try {
        return looksLikeXml(text) ? parseOpencvXml(text) : parseOpencvYaml(text);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(path.string() + ": " + e.what());
    }
}

}  // namespace mz::format
