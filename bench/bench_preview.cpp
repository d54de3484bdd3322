// The preview's answer to one adjustment button, the whole path the core runs: the rig solved
// again with the operator's shift, every map of the shown view made again, and the Apply that
// draws it. On the simulated sample bay (four 720 x 480 pictures), calibrated once before timing.
// First argument: the view shown, 0 the full top view (turned, as the display unit shows it),
// 1 the front top view (upright), 2 the full top view made 1280 x 800, the largest the preview
// shows. Second: the button, 0 an arrow, 1 zoom, 2 rotation. Beside it, Save LUT.
#include <benchmark/benchmark.h>

#include <vector>

#include "app/core/session.h"
#include "format/config_writer.h"
#include "testing/scripted_ui.h"
#include "testing/simulated_bay.h"

namespace {

using mz::core::Adjustment;
using mz::core::Session;
using mz::core::test::ScriptedUi;

void BM_PreviewAdjustment(benchmark::State& state) {
    mz::core::test::TempDir dir;
    mz::format::ConfigFile config = mz::core::test::simulatedConfig();
    if (state.range(0) == 2) {
        mz::format::ConfigMultiview& full = config.multiviews.at(0);
        const float sx = 1280.0f / static_cast<float>(full.width), sy = 800.0f / static_cast<float>(full.height);
        full.centreX *= sx;
        full.centreY *= sy;
        full.mmPerPixel /= sx;
        // Its car picture follows, nearest pixel.
        for (mz::format::ConfigCarImage& car : config.carImages) {
            if (car.type != mz::format::kRecordCarImage0) continue;
            std::vector<uint8_t> big(static_cast<size_t>(MZ_ROW_STRIDE24(1280)) * 800);
            for (int y = 0; y < 800; ++y)
                for (int x = 0; x < 1280; ++x)
                    for (int c = 0; c < 3; ++c)
                        big[static_cast<size_t>(y) * MZ_ROW_STRIDE24(1280) + x * 3 + c] =
                            car.pixels[static_cast<size_t>(y * full.height / 800) * MZ_ROW_STRIDE24(full.width) +
                                       (x * full.width / 1280) * 3 + c];
            car.pixels = std::move(big);
        }
        full.width = 1280;
        full.height = 800;
    }
    mz::format::writeConfigFile(dir.path() / "Config.bin", config);
    ScriptedUi ui;
    Session session(ui);
    ui.configAnswers.push_back((dir.path() / "Config.bin").string());
    ui.folderAnswers.push_back(mz::core::test::simulatedBay().string());
    session.configLoad();
    session.imageLoad();
    session.applyAvm();
    if (!session.viewApplied()) {
        const auto texts = ui.messageTexts();
        state.SkipWithError(texts.empty() ? "the sample bay did not calibrate" : texts.back().c_str());
        return;
    }
    session.preview().selectView(state.range(0) == 1 ? 1 : 0);
    static constexpr Adjustment kButtons[3][2] = {{Adjustment::kUp, Adjustment::kDown},
                                                  {Adjustment::kZoomIn, Adjustment::kZoomOut},
                                                  {Adjustment::kRotatePlus, Adjustment::kRotateMinus}};
    const auto& buttons = kButtons[state.range(1)];
    const int updates = ui.viewUpdates();
    bool odd = false;
    for (auto _ : state) session.preview().adjuster().adjust(buttons[(odd = !odd) ? 0 : 1]);
    int width = 0, height = 0;
    session.preview().views().output(width, height);
    state.counters["width"] = width;
    state.counters["height"] = height;
    if (ui.viewUpdates() - updates != static_cast<int>(state.iterations()))
        state.SkipWithError("an adjustment did not redraw the preview");
}
BENCHMARK(BM_PreviewAdjustment)
    ->ArgsProduct({{0, 1, 2}, {0, 1, 2}})
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Save LUT after the sample bay's Apply AVM, as `calibration-cli run` ends: every view's tables
// and masks made, the 23 files written, synced and put in place over the previous save's.
void BM_SaveLut(benchmark::State& state) {
    mz::core::test::TempDir dir;
    mz::format::writeConfigFile(dir.path() / "Config.bin", mz::core::test::simulatedConfig());
    ScriptedUi ui;
    Session session(ui);
    ui.configAnswers.push_back((dir.path() / "Config.bin").string());
    ui.folderAnswers.push_back(mz::core::test::simulatedBay().string());
    session.configLoad();
    session.imageLoad();
    session.applyAvm();
    if (!session.viewApplied()) {
        state.SkipWithError("the sample bay did not calibrate");
        return;
    }
    mz::core::test::TempDir out;
    for (auto _ : state) {
        ui.folderAnswers.push_back(out.path().string());
        if (!session.saveLut().done()) {
            state.SkipWithError("the save failed");
            return;
        }
    }
}
BENCHMARK(BM_SaveLut)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
