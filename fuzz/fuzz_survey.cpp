// Surveyed floor points (run --survey): the JSON reader, the checks of the pairs against the four
// cameras' records, and the pose each camera's pairs give once they pass. Input: the four camera
// records (raw words, picture sizes up to 4096 x 4096), then the JSON text.
#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "app/core/survey.h"
#include "records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    mzfuzz::Input in(data, size);
    std::array<CameraParam, mz::core::kCameraCount> cameras{};
    for (CameraParam& camera : cameras) mzfuzz::readCamera(in, camera, nullptr, nullptr, 4096, 4096);
    const size_t used = size - in.remaining();
    mz::core::Survey survey;
    try {
        survey = mz::core::parseSurvey(std::string(reinterpret_cast<const char*>(data) + used, size - used));
    } catch (const std::runtime_error&) {
        return 0;
    }
    if (!mz::core::checkSurvey(survey, cameras).empty()) return 0;
    for (int c = 0; c < mz::core::kCameraCount; ++c) (void)mz::core::surveyPose(cameras[c], survey[c]);
    return 0;
}
