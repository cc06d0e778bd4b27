// Per-block cost of the meter: the peak scan of one 3675-byte block (beside std::max_element over the same
// block, as a reference measured in the same run) and one block's drawing with a 160-pixel cell copied into a
// 216 x 196 canvas and presented to the window.
#include <benchmark/benchmark.h>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "level.h"
#include "meter_state.h"
#include "picture_bank.h"

namespace {

const int BLOCK = 3675;

std::vector<uint8_t> SpeechLikeBlock() {
    std::mt19937 random(12);
    std::normal_distribution<double> sample(128.0, 20.0);
    std::vector<uint8_t> block(BLOCK);
    for (uint8_t& s : block) s = static_cast<uint8_t>(std::clamp(sample(random), 0.0, 255.0));
    return block;
}

void BM_PeakLevel(benchmark::State& state) {
    std::vector<uint8_t> block = SpeechLikeBlock();
    for (auto _ : state) {
        benchmark::DoNotOptimize(block.data());
        benchmark::DoNotOptimize(PeakLevel(block.data(), BLOCK));
    }
    state.SetBytesProcessed(state.iterations() * BLOCK);
}
BENCHMARK(BM_PeakLevel);

void BM_MaxElementReference(benchmark::State& state) {
    std::vector<uint8_t> block = SpeechLikeBlock();
    for (auto _ : state) {
        benchmark::DoNotOptimize(block.data());
        benchmark::DoNotOptimize(*std::max_element(block.begin(), block.end()));
    }
    state.SetBytesProcessed(state.iterations() * BLOCK);
}
BENCHMARK(BM_MaxElementReference);

// Writes an 800 x 480 24-bit sheet (three rows of five 160-pixel cells) and returns its path.
std::string WriteSheet() {
    const int width = 800, height = 480, rowBytes = width * 3;
    std::string path = "/tmp/pelomi-bench-sheet-" + std::to_string(getpid()) + ".bmp";
    FILE* file = fopen(path.c_str(), "wb");
    unsigned char header[54] = {'B', 'M'};
    auto put32 = [&](int at, uint32_t v) {
        for (int i = 0; i < 4; ++i) header[at + i] = (v >> (8 * i)) & 0xFF;
    };
    put32(2, 54 + rowBytes * height);
    put32(10, 54);
    put32(14, 40);
    put32(18, width);
    put32(22, height);
    header[26] = 1;
    header[28] = 24;
    fwrite(header, 1, sizeof(header), file);
    std::vector<unsigned char> row(rowBytes);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < rowBytes; ++x) row[x] = static_cast<unsigned char>(x * 7 + y * 3);
        fwrite(row.data(), 1, row.size(), file);
    }
    fclose(file);
    return path;
}

void BM_RenderBlock(benchmark::State& state) {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.lpszClassName = "PelomiBenchWindow";
    RegisterClassExA(&windowClass);
    HWND window = CreateWindowExA(0, "PelomiBenchWindow", "", WS_POPUP, 0, 0, 216, 196, nullptr, nullptr,
                                  nullptr, nullptr);
    std::string sheet = WriteSheet();
    pictureBank.Attach(GetModuleHandleA(nullptr), window);
    pictureBank.Load(0, sheet.c_str(), false, 0);
    ResetForSheet();
    InitStepThresholds();
    int step = 0;
    for (auto _ : state) {
        RenderBlock(static_cast<uint8_t>(40 + step * 20), step);
        step = (step + 1) % 5;
    }
    state.counters["cell_px"] = cellSize;
    pictureBank.Detach();
    DestroyWindow(window);
    remove(sheet.c_str());
}
BENCHMARK(BM_RenderBlock);

}  // namespace

BENCHMARK_MAIN();
